// Parses arbitrary bytes as an XML document, reads every node's typed and binary views,
// writes the document back and parses that text again. Only the program's own exceptions
// may come out.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "document/XmlDocuments.h"
#include "platform/Classes.h"
#include "platform/Exceptions.h"

namespace {

volatile uint64_t gSink;

void Visit(const document::TXmlNode* Node, int Budget) {
  const double f = Node->ValueAsFloat(0), d = Node->ValueAsDateTime(0);
  uint64_t fb, db;
  std::memcpy(&fb, &f, sizeof fb);
  std::memcpy(&db, &d, sizeof db);
  gSink = gSink + static_cast<uint64_t>(Node->ValueAsInteger(0)) + fb + db + Node->ValueAsBool(false) +
          Node->ValueAsString().size() + static_cast<uint64_t>(Node->ReadAttributeInteger("Index", 0));
  try {
    const int32_t n = Node->BufferLength();
    if (n > 0 && n < (1 << 20)) {
      std::string bytes(static_cast<size_t>(n), '\0');
      gSink = gSink + static_cast<uint64_t>(Node->BufferRead(bytes.data(), n));
      for (char c : bytes) gSink = gSink + static_cast<uint8_t>(c);
    }
  } catch (const platform::Exception&) {
  }
  for (const auto& child : Node->Nodes())
    if (Budget > 0) Visit(child.get(), Budget - 1);
}

void RoundTrip(const uint8_t* Data, size_t Size, uint8_t Format) {
  document::TXmlDocument doc;
  platform::TStringStream in(std::string(reinterpret_cast<const char*>(Data), Size));
  doc.LoadFromStream(&in);
  Visit(doc.Root(), 600);
  doc.SetXmlFormat(Format);
  platform::TMemoryStream out;
  doc.SaveToStream(&out);
  out.SetPosition(0);
  document::TXmlDocument again;
  again.LoadFromStream(&out);
  gSink = gSink + again.WriteToString().size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size > (1 << 20)) return 0;
  const uint8_t format = Size ? Data[0] % 3 : 0;
  try {
    RoundTrip(Data, Size, format);
  } catch (const platform::Exception&) {
  }
  return 0;
}
