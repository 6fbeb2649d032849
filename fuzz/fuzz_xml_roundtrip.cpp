// Two round trips of the XML writer and reader, chosen by the first byte:
//  - a document built from the input (names, escaped values with any bytes, attributes,
//    nesting) is written in each line-break format and read back: the trees must be equal;
//  - arbitrary text that parses is written, parsed again and written again: both writes must
//    be the same text.
// Only the program's own exceptions may come out of parsing arbitrary text; a built
// document must always read back.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "document/XmlDocuments.h"
#include "platform/Classes.h"
#include "platform/Exceptions.h"
#include "platform/TextCodec.h"

namespace {

// The text being checked, shown when a check fails.
std::string gContext;

void Check(bool Ok) {
  if (Ok) return;
  std::fprintf(stderr, "round trip differs; written text:\n%s\n", gContext.c_str());
  __builtin_trap();
}

class TInput {
 public:
  TInput(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  bool Empty() const { return FPos >= FSize; }
  uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  // Program text is UTF-8; each input byte stands for the windows-1252 character the file
  // would hold, so any text read from a file is reachable.
  std::string Text(size_t MaxLen) {
    std::string bytes;
    const size_t n = Byte() % (MaxLen + 1);
    for (size_t i = 0; i < n && !Empty(); ++i) bytes += char(Byte());
    return platform::Cp1252ToUtf8(bytes);
  }
  std::string Name() {
    static const char kFirst[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
    static const char kRest[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789.-:";
    std::string s(1, kFirst[Byte() % (sizeof kFirst - 1)]);
    const size_t n = Byte() % 8;
    for (size_t i = 0; i < n; ++i) s += kRest[Byte() % (sizeof kRest - 1)];
    return s;
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

// Elements with children carry no text of their own: the line breaks written before the
// first child would become part of it in the line-break formats.
void Build(TInput& In, document::TXmlNode* Node, int Depth) {
  const uint8_t attrs = In.Byte() % 4;
  for (uint8_t i = 0; i < attrs; ++i) {
    const std::string name = In.Name() + std::to_string(i);  // distinct names
    Node->WriteAttributeString(name, In.Text(12));
  }
  const uint8_t children = Depth < 6 ? In.Byte() % 4 : 0;
  if (children == 0) {
    Node->SetValueAsString(In.Text(40));
    return;
  }
  for (uint8_t i = 0; i < children && !In.Empty(); ++i) Build(In, Node->NodeNew(In.Name()), Depth + 1);
}

void ExpectSame(const document::TXmlNode* A, const document::TXmlNode* B) {
  Check(A->Name() == B->Name());
  Check(A->ValueAsString() == B->ValueAsString());
  Check(A->Attributes().size() == B->Attributes().size());
  for (const std::string& line : A->Attributes()) {
    const std::string name = line.substr(0, line.find('='));
    Check(A->ReadAttributeString(name, "?missing") == B->ReadAttributeString(name, "!missing"));
  }
  Check(A->GetNodeCount() == B->GetNodeCount());
  for (int32_t i = 0; i < A->GetNodeCount(); ++i) ExpectSame(A->GetNode(i), B->GetNode(i));
}

void BuiltRoundTrip(TInput& In) {
  document::TXmlDocument doc("Root");
  Build(In, doc.Root(), 0);
  for (uint8_t format = 0; format < 6; ++format) {
    doc.SetXmlFormat(format % 3);
    doc.SetWideText(format >= 3);
    platform::TMemoryStream out;
    doc.SaveToStream(&out);
    gContext.assign(static_cast<const char*>(out.Memory()), size_t(out.GetSize()));
    out.SetPosition(0);
    document::TXmlDocument back;
    back.LoadFromStream(&out);
    ExpectSame(doc.Root(), back.Root());
  }
}

void TextRoundTrip(const uint8_t* Data, size_t Size, uint8_t Format) {
  document::TXmlDocument doc;
  try {
    platform::TStringStream in(std::string(reinterpret_cast<const char*>(Data), Size));
    doc.LoadFromStream(&in);
  } catch (const platform::Exception&) {
    return;
  }
  doc.SetXmlFormat(Format);
  platform::TMemoryStream first;
  doc.SaveToStream(&first);
  gContext.assign(static_cast<const char*>(first.Memory()), size_t(first.GetSize()));
  first.SetPosition(0);
  document::TXmlDocument again;
  again.LoadFromStream(&first);
  again.SetXmlFormat(Format);
  platform::TMemoryStream second;
  again.SaveToStream(&second);
  Check(first.GetSize() == second.GetSize());
  Check(std::string(static_cast<const char*>(first.Memory()), size_t(first.GetSize())) ==
        std::string(static_cast<const char*>(second.Memory()), size_t(second.GetSize())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1 || Size > (1 << 16)) return 0;
  if (Data[0] < 128) {
    TInput in(Data + 1, Size - 1);
    BuiltRoundTrip(in);
  } else {
    TextRoundTrip(Data + 1, Size - 1, Data[0] % 3);
  }
  return 0;
}
