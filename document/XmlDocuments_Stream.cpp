// The adapter between file bytes (windows-1252 or UTF-16) and the UTF-8 text of the program,
// and whole-stream reading and writing for the XML model.
#include <algorithm>
#include <cstring>

#include "document/XmlDocuments.h"
#include "document/XmlDocumentsPriv.h"
#include "platform/TextCodec.h"

namespace document {

using platform::TStream;

namespace xmlpriv {

void WriteAll(TStream* Stream, std::string_view Text) {
  while (!Text.empty()) {
    const auto n = static_cast<int32_t>(std::min<size_t>(Text.size(), 0x40000000));
    Stream->WriteBuffer(Text.data(), n);
    Text.remove_prefix(n);
  }
}

std::string_view ReadRest(TStream* Stream, std::string& Owned) {
  if (auto* utf = dynamic_cast<TUtf8Stream*>(Stream)) return utf->ReadText();
  Owned.clear();
  // Streams that know their size are read in one piece; the loop below takes what follows.
  if (dynamic_cast<platform::TCustomMemoryStream*>(Stream) || dynamic_cast<platform::TStringStream*>(Stream) ||
      dynamic_cast<platform::THandleStream*>(Stream)) {
    const int64_t pos = Stream->Position();
    const int64_t size = Stream->Size();
    if (size > pos && size - pos < INT32_MAX) {
      Owned.resize(static_cast<size_t>(size - pos));
      const int32_t got = Stream->Read(Owned.data(), static_cast<int32_t>(Owned.size()));
      Owned.resize(static_cast<size_t>(std::max(got, 0)));
    }
  }
  size_t chunk = 1 << 16;
  for (;;) {
    const size_t old = Owned.size();
    Owned.resize(old + chunk);
    const int32_t got = Stream->Read(Owned.data() + old, static_cast<int32_t>(chunk));
    Owned.resize(old + static_cast<size_t>(std::max(got, 0)));
    if (got <= 0) break;
    if (chunk < (1 << 24)) chunk *= 2;
  }
  return Owned;
}

}  // namespace xmlpriv

using xmlpriv::ReadRest;
using xmlpriv::WriteAll;

TUtf8Stream::TUtf8Stream(TStream* Inner, bool AWideText) : FWideText(AWideText), FInner(Inner) {}

TUtf8Stream::~TUtf8Stream() {
  // A sequence cut off at the end of the text stands for one character that did not convert.
  if (FMode == 2 && !FBuffer.empty() && FInner) {
    try {
      FBuffer.clear();
      NoteLossy();
      if (FWideText)
        FInner->Write("?\0", 2);
      else
        FInner->Write("?", 1);
    } catch (...) {
    }
  }
}

void TUtf8Stream::CheckInner() const {
  if (!FInner) throw platform::EStreamError("Utf stream unassigned");
}

void TUtf8Stream::NoteLossy() {
  if (FLossy) return;
  FLossy = true;
  if (OnLossyConversion) OnLossyConversion(this);
}

void TUtf8Stream::LoadAll() {
  std::string raw;
  const std::string_view view = ReadRest(FInner, raw);
  if (view.data() != raw.data()) raw.assign(view);
  const auto* b = reinterpret_cast<const uint8_t*>(raw.data());
  FMode = 1;
  FPosition = 0;
  if (raw.size() >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
    FWideText = true;
    FByteSwapped = b[0] == 0xFE;
    const size_t n = (raw.size() - 2) / 2;
    std::u16string wide(n, u'\0');
    for (size_t i = 0; i < n; ++i) {
      const uint8_t lo = b[2 + 2 * i], hi = b[3 + 2 * i];
      wide[i] = static_cast<char16_t>(FByteSwapped ? (lo << 8) | hi : (hi << 8) | lo);
    }
    for (size_t i = 0; i < n; ++i) {
      const char16_t c = wide[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
        ++i;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        NoteLossy();
        break;
      }
    }
    FBuffer = platform::Utf16ToUtf8(wide);
    return;
  }
  FWideText = false;
  const bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
  FBuffer = ascii ? std::move(raw) : platform::Cp1252ToUtf8(raw);
}

std::string_view TUtf8Stream::ReadText() {
  CheckInner();
  if (FMode == 2) throw platform::EStreamError("Cannot read from an UTF stream opened for writing");
  if (FMode == 0) LoadAll();
  const auto size = static_cast<int64_t>(FBuffer.size());
  const int64_t from = std::min(FPosition, size);
  FPosition = std::max(FPosition, size);
  return std::string_view(FBuffer).substr(static_cast<size_t>(from));
}

int32_t TUtf8Stream::Read(void* Buffer, int32_t Count) {
  CheckInner();
  if (FMode == 2) throw platform::EStreamError("Cannot read from an UTF stream opened for writing");
  if (FMode == 0) LoadAll();
  if (Count <= 0 || FPosition >= static_cast<int64_t>(FBuffer.size())) return 0;
  const auto n = static_cast<int32_t>(std::min<int64_t>(Count, static_cast<int64_t>(FBuffer.size()) - FPosition));
  std::memcpy(Buffer, FBuffer.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

void TUtf8Stream::WriteConverted(std::string_view Utf8) {
  if (Utf8.empty()) return;
  if (FWideText) {
    const std::u16string wide = platform::Utf8ToUtf16(Utf8);
    std::string bytes(wide.size() * 2, '\0');
    for (size_t i = 0; i < wide.size(); ++i) {
      bytes[2 * i] = static_cast<char>(wide[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<char>(wide[i] >> 8);
    }
    if (wide.find(u'\xFFFD') != std::u16string::npos && Utf8.find("\xEF\xBF\xBD") == std::string_view::npos)
      NoteLossy();
    WriteAll(FInner, bytes);
    return;
  }
  if (std::all_of(Utf8.begin(), Utf8.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; })) {
    WriteAll(FInner, Utf8);
    return;
  }
  bool lossy = false;
  const std::string bytes = platform::Utf8ToCp1252(Utf8, &lossy);
  if (lossy) NoteLossy();
  WriteAll(FInner, bytes);
}

int32_t TUtf8Stream::Write(const void* Buffer, int32_t Count) {
  CheckInner();
  if (FMode == 1) throw platform::EStreamError("Cannot write to an UTF stream opened for reading");
  if (FMode == 0) {
    FMode = 2;
    if (FWideText) FInner->WriteBuffer("\xFF\xFE", 2);
  }
  if (Count <= 0) return 0;
  std::string_view in(static_cast<const char*>(Buffer), static_cast<size_t>(Count));
  std::string joined;
  if (!FBuffer.empty()) {
    joined = FBuffer;
    joined.append(in);
    in = joined;
  }
  // Hold back a UTF-8 sequence that the next Write completes.
  size_t keep = 0;
  const size_t n = in.size();
  for (size_t back = 1; back <= std::min<size_t>(3, n); ++back) {
    const auto c = static_cast<uint8_t>(in[n - back]);
    if ((c & 0xC0) == 0x80) continue;
    const size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (len > back && c < 0xF8) keep = back;
    break;
  }
  WriteConverted(in.substr(0, n - keep));
  FBuffer.assign(in.substr(n - keep));
  FPosition += Count;
  return Count;
}

int64_t TUtf8Stream::Seek(int64_t Offset, uint16_t Origin) {
  CheckInner();
  if (FMode == 0) throw platform::EStreamError("Cannot seek before reading or writing on UTF stream");
  if (FMode == 2) return FPosition;
  int64_t target = Offset;
  if (Origin == platform::soFromCurrent)
    target = FPosition + Offset;
  else if (Origin == platform::soFromEnd)
    target = static_cast<int64_t>(FBuffer.size()) + Offset;
  FPosition = std::max<int64_t>(target, 0);
  return FPosition;
}


}  // namespace document
