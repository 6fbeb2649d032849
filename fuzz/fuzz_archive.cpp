// Opens arbitrary bytes as a document archive through a memory-backed stream, reads every
// stream, then edits the archive. Only the archive's own errors (platform::Exception) may
// come out; anything else, a crash or a sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "document/SingleFileStorage.h"
#include "platform/Exceptions.h"

namespace {

uint32_t Touch(const document::TMemoryStream64& m) {
  // Reading every byte lets the sanitizers see uninitialised or out-of-bounds bytes.
  uint32_t sum = 0;
  const auto* p = static_cast<const uint8_t*>(m.Memory());
  for (int64_t i = 0; i < m.DataSize(); ++i) sum = sum * 31 + p[i];
  return sum;
}

void FuzzArchive(const uint8_t* Data, size_t Size) {
  auto file = std::make_unique<document::TMemoryStream64>();
  if (Size > 0) file->WriteBuffer(Data, static_cast<int32_t>(Size));
  document::TSingleStorage s;
  try {
    s.SetStream(std::move(file));
  } catch (const platform::Exception&) {
    return;
  }
  volatile uint32_t sink = 0;
  try {
    for (int32_t i = 0; i < s.Count(); ++i) {
      document::TMemoryStream64 out;
      s.ReadStream(s.Items(i)->Name(), &out);
      sink = sink + Touch(out);
      uint8_t b;
      if (s.Items(i)->Read(&b, 1) == 1) sink = sink + b;
    }
    document::TMemoryStream64 src;
    src.WriteBuffer(Data, static_cast<int32_t>(Size < 300 ? Size : 300));
    s.WriteStream(&src, "Fuzz.xml");
    if (s.Count() > 0) s.Items(0)->WriteBuffer("x", 1);
    s.Flush();
    s.Compact();
    for (int32_t i = 0; i < s.Count(); ++i) {
      document::TMemoryStream64 out;
      s.ReadStream(s.Items(i)->Name(), &out);
      sink = sink + Touch(out);
    }
  } catch (const platform::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  FuzzArchive(Data, Size);
  return 0;
}
