// The XML document model every stored object of the document engine goes through: the
// document's "Index.xml", page streams, shapes, effects, resources and the clipboard text.
// Typed values live in child elements holding text (<DocLeft>12.5</DocLeft>); element values are
// kept escaped and unescaped by the readers. Strings inside the program are UTF-8; files are
// windows-1252 (or UTF-16 with a byte-order mark), converted by TUtf8Stream at the boundary.
//
//   TXmlDocument Doc;                         // root element without a name yet
//   Doc.Root()->SetName("Page");
//   Doc.Root()->WriteInteger("Index", 1, 0);
//   Doc.SaveToStream(&Stream);                // LoadFromStream reads it back
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Classes.h"
#include "platform/Colors.h"
#include "platform/Exceptions.h"

namespace document {

using TColor = platform::TColor;
// Days since 1899-12-30, the time of day as the fraction.
using TDateTime = double;

// Node kinds as the tokeniser finds them.
using TXmlNodeKind = uint8_t;
constexpr TXmlNodeKind xnElement = 0;        // <Name ...> ... </Name>
constexpr TXmlNodeKind xnCloseTag = 1;       // a stray </Name>
constexpr TXmlNodeKind xnClosedElement = 2;  // <Name .../>
constexpr TXmlNodeKind xnComment = 3;        // <!-- ... -->
constexpr TXmlNodeKind xnCData = 4;          // <![CDATA[ ... ]]>
constexpr TXmlNodeKind xnDeclaration = 5;    // <?xml ...?>
constexpr TXmlNodeKind xnStylesheet = 6;     // <?xml-stylesheet ...?>
constexpr TXmlNodeKind xnUnknown = 7;        // <!...> or <?...?>, value "!..." or "?...?"

// Document-wide binary encodings of BufferWrite. Radix-64 is written as Base64.
constexpr uint8_t xbeHex = 0;
constexpr uint8_t xbeBase64 = 1;
constexpr uint8_t xbeRadix64 = 2;

// Output layouts.
constexpr uint8_t xfIndented = 0;  // two spaces per level, CR LF
constexpr uint8_t xfCompact = 1;   // no line breaks
constexpr uint8_t xfLinefeed = 2;  // LF line breaks, no indentation

// Elements nested deeper than this are rejected while parsing.
constexpr int kXmlMaxDepth = 512;

// "&" "<" ">" "'" and '"' as entities, and back in one left-to-right pass ("&amp;lt;" gives
// "&lt;"). Other entities are left as they are.
std::string XmlEscape(std::string_view Text);
std::string XmlUnescape(std::string_view Text);

// Binary text codecs used by BufferWrite/BufferRead. Decoders skip whitespace; Base64 also
// accepts missing padding and stops at the first "=". Both raise EFilerError on any other
// character outside their alphabet. With a Dest they write at most Count bytes and return how
// many they wrote; without one they return how many bytes the text holds.
std::string EncodeBinHex(const void* Buffer, int32_t Count);
std::string EncodeBase64(const void* Buffer, int32_t Count);
int64_t DecodeBinHex(std::string_view Text, void* Dest, int64_t Count);
int64_t DecodeBase64(std::string_view Text, void* Dest, int64_t Count);

// Plain font, pen and brush values as the XML stores them. The class library's TFont, TPen and
// TBrush (or anything shaped like them) can be given directly to the template overloads of
// ReadFont/WriteFont, ReadPen/WritePen and ReadBrush/WriteBrush below.
struct TXmlFontValues {
  std::string Name = "Arial";
  TColor Color = 0;
  int32_t Size = 14;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool Strikeout = false;
};

// Mode and Style are the ordinal values of the class library's pen mode and style.
struct TXmlPenValues {
  TColor Color = 0;
  int32_t Mode = 4;  // pmCopy
  int32_t Style = 0;  // psSolid
  int32_t Width = 1;
};

struct TXmlBrushValues {
  TColor Color = 0xFFFFFF;
  int32_t Style = 0;  // bsSolid
};

class TXmlDocument;

class TXmlNode final : public platform::TPersistent {
 public:
  explicit TXmlNode(TXmlDocument* ADocument = nullptr) : FDocument(ADocument) {}
  ~TXmlNode() override;
  TXmlNode(const TXmlNode&) = delete;
  TXmlNode& operator=(const TXmlNode&) = delete;
  // Freed nodes are kept per thread for the next ones: documents come and go by the thousand
  // nodes, and the general allocator is slow for blocks of this size.
  static void* operator new(size_t Size);
  static void operator delete(void* Ptr, size_t Size) noexcept;
  // Nodes allocated and not yet freed on this thread, for checking that freeing a tree frees
  // each node exactly once.
  static int64_t LiveCount();

  static std::unique_ptr<TXmlNode> CreateName(TXmlDocument* ADocument, const std::string& AName);
  // AValue is taken as plain text and stored escaped.
  static std::unique_ptr<TXmlNode> CreateNameValue(TXmlDocument* ADocument, const std::string& AName,
                                                   const std::string& AValue);
  static std::unique_ptr<TXmlNode> CreateType(TXmlDocument* ADocument, TXmlNodeKind AKind);

  std::string ClassName() const override { return "TXmlNode"; }
  // Copies another node through its compact text form.
  void Assign(const platform::TPersistent* Source) override;

  // Lines "name=value" with the value as written (escaped and quoted).
  const std::vector<std::string>& Attributes() const { return FAttributes; }
  TXmlDocument* Document() const { return FDocument; }
  void SetDocument(TXmlDocument* Value) { FDocument = Value; }
  TXmlNodeKind Kind() const { return FKind; }
  void SetKind(TXmlNodeKind Value) { FKind = Value; }
  const std::string& Name() const { return FName; }
  // Raises Exception "Illegal character in node name "%s"" for a name holding 9, 10, 13 or 32,
  // or beginning with "!", "?" or "/" (it would not read back as an element).
  void SetName(const std::string& Value);
  TXmlNode* Parent() const { return FParent; }
  // The stored, escaped value.
  const std::string& Value() const { return FValue; }
  void SetValue(std::string Value) { FValue = std::move(Value); }
  // The value as plain text.
  std::string ValueAsString() const { return XmlUnescape(FValue); }
  void SetValueAsString(std::string_view Value) { FValue = XmlEscape(Value); }

  // Children; GetNode raises EListError for an index out of range.
  TXmlNode* GetNode(int32_t Index) const;
  int32_t GetNodeCount() const { return static_cast<int32_t>(FNodes.size()); }
  const std::vector<std::unique_ptr<TXmlNode>>& Nodes() const { return FNodes; }

  // Parses one node from the stream's position and leaves the stream right after it.
  virtual void ParseStream(platform::TStream* Stream);
  virtual void ReadFromString(const std::string& Text);
  // " name=value" for every attribute.
  virtual std::string GetAttributesText() const;
  virtual void WriteToStream(platform::TStream* Stream) const;
  virtual std::string WriteToString() const;

  virtual void ClearAttributes() { FAttributes.clear(); }
  // Binary data in the document's BinaryEncoding (hexadecimal without a document).
  virtual void BufferWrite(const void* Buffer, int32_t Count);
  // Decodes at most Count bytes and returns how many were decoded.
  virtual int32_t BufferRead(void* Buffer, int32_t Count) const;
  virtual int32_t BufferLength() const;
  virtual void Clear();
  virtual bool HasAttribute(const std::string& AName) const;
  virtual bool IsEmpty() const;
  virtual bool HasNoContent() const;

  // Tree operations; names compare without case. NodeAdd gives the node and everything below
  // it this node's document.
  virtual TXmlNode* NodeAdd(std::unique_ptr<TXmlNode> ANode);
  virtual TXmlNode* NodeByName(const std::string& AName) const;
  virtual void NodeDelete(int32_t Index);
  virtual std::unique_ptr<TXmlNode> NodeExtract(TXmlNode* ANode);
  virtual int32_t NodeIndexByName(const std::string& AName) const;
  virtual int32_t NodeIndexByNameFrom(const std::string& AName, int32_t AFrom) const;
  virtual TXmlNode* NodeNew(const std::string& AName);
  virtual TXmlNode* NodeFindOrCreate(const std::string& AName);
  virtual void NodesClear();
  void NodesByName(const std::string& AName, std::vector<TXmlNode*>& AList) const;

  // Typed readers of child elements; a missing child gives the default.
  virtual int32_t ReadAttributeInteger(const std::string& AName, int32_t Default = 0) const;
  std::string ReadAttributeString(const std::string& AName, const std::string& Default = "") const;
  virtual bool ReadBool(const std::string& AName, bool Default = false) const;
  virtual void ReadBrush(const std::string& AName, TXmlBrushValues& Brush) const;
  // Raises EConvertError "'%s' is not a valid integer value" for a text that does not convert.
  virtual int32_t ReadInteger(const std::string& AName, int32_t Default = 0) const;
  virtual void ReadFont(const std::string& AName, TXmlFontValues& Font) const;
  virtual void ReadPen(const std::string& AName, TXmlPenValues& Pen) const;
  virtual TDateTime ReadDateTime(const std::string& AName, TDateTime Default = 0) const;
  virtual double ReadFloat(const std::string& AName, double Default = 0) const;
  virtual int32_t ReadIntegerDef(const std::string& AName, int32_t Default) const;
  virtual std::string ReadString(const std::string& AName, const std::string& Default = "") const;
  virtual bool ValueAsBool(bool Default = false) const;
  virtual TDateTime ValueAsDateTime(TDateTime Default = 0) const;
  virtual double ValueAsFloat(double Default = 0) const;
  virtual int32_t ValueAsInteger(int32_t Default = 0) const;

  // Typed writers: with the document's WriteOnDefault 0 a value equal to the default writes
  // nothing; otherwise the child (found or created) gets the escaped text.
  virtual void WriteAttributeInteger(const std::string& AName, int32_t Value);
  virtual void WriteAttributeString(const std::string& AName, const std::string& Value);
  virtual void WriteBool(const std::string& AName, bool Value, bool Default = false);
  virtual void WriteBrush(const std::string& AName, const TXmlBrushValues& Brush);
  // ColorToRGB, then "$" and 8 hexadecimal digits ($00BBGGRR), default 0.
  virtual void WriteColor(const std::string& AName, TColor Value);
  virtual void WriteFont(const std::string& AName, const TXmlFontValues& Font);
  virtual void WritePen(const std::string& AName, const TXmlPenValues& Pen);
  virtual void WriteDateTime(const std::string& AName, TDateTime Value, TDateTime Default = 0);
  // Floats are widened exactly to long double and written with 15 significant digits and ".".
  virtual void WriteFloat(const std::string& AName, long double Value, long double Default = 0);
  virtual void WriteHex(const std::string& AName, int32_t Value, int32_t Digits, int32_t Default = 0);
  virtual void WriteInteger(const std::string& AName, int32_t Value, int32_t Default = 0);
  virtual void WriteString(const std::string& AName, const std::string& Value,
                           const std::string& Default = "");

  // Font, pen and brush objects of the class library: anything with Name/SetName,
  // Color/SetColor, Size/SetSize and Style/SetStyle (style bits 1 bold, 2 italic, 4 underline,
  // 8 strike-out, with Bits() and a static FromBits()); pens and brushes with
  // Color/Mode/Style/Width accessors whose enums convert to and from int.
  template <class F>
    requires requires(F& f) { f.Style().Bits(); f.SetSize(f.Size()); }
  void ReadFont(const std::string& AName, F* Font) const {
    TXmlFontValues v;
    ReadFont(AName, v);
    Font->SetName(v.Name);
    Font->SetColor(v.Color);
    Font->SetSize(v.Size);
    Font->SetStyle(decltype(Font->Style())::FromBits(static_cast<uint8_t>(
        (v.Bold ? 1 : 0) | (v.Italic ? 2 : 0) | (v.Underline ? 4 : 0) | (v.Strikeout ? 8 : 0))));
  }
  template <class F>
    requires requires(const F& f) { f.Style().Bits(); f.Size(); }
  void WriteFont(const std::string& AName, const F* Font) {
    TXmlFontValues v;
    v.Name = Font->Name();
    v.Color = Font->Color();
    v.Size = Font->Size();
    const auto bits = Font->Style().Bits();
    v.Bold = bits & 1;
    v.Italic = bits & 2;
    v.Underline = bits & 4;
    v.Strikeout = bits & 8;
    WriteFont(AName, v);
  }
  template <class P>
    requires requires(P& p) { p.SetWidth(p.Width()); p.SetMode(p.Mode()); }
  void ReadPen(const std::string& AName, P* Pen) const {
    TXmlPenValues v;
    v.Color = Pen->Color();
    v.Mode = static_cast<int32_t>(Pen->Mode());
    v.Style = static_cast<int32_t>(Pen->Style());
    v.Width = Pen->Width();
    ReadPen(AName, v);
    Pen->SetColor(v.Color);
    Pen->SetMode(static_cast<decltype(Pen->Mode())>(v.Mode));
    Pen->SetStyle(static_cast<decltype(Pen->Style())>(v.Style));
    Pen->SetWidth(v.Width);
  }
  template <class P>
    requires requires(const P& p) { p.Width(); p.Mode(); }
  void WritePen(const std::string& AName, const P* Pen) {
    WritePen(AName, TXmlPenValues{Pen->Color(), static_cast<int32_t>(Pen->Mode()),
                                  static_cast<int32_t>(Pen->Style()), Pen->Width()});
  }
  template <class B>
    requires requires(B& b) { b.SetStyle(b.Style()); b.SetColor(b.Color()); }
  void ReadBrush(const std::string& AName, B* Brush) const {
    TXmlBrushValues v{Brush->Color(), static_cast<int32_t>(Brush->Style())};
    ReadBrush(AName, v);
    Brush->SetColor(v.Color);
    Brush->SetStyle(static_cast<decltype(Brush->Style())>(v.Style));
  }
  template <class B>
    requires requires(const B& b) { b.Style(); b.Color(); }
  void WriteBrush(const std::string& AName, const B* Brush) {
    WriteBrush(AName, TXmlBrushValues{Brush->Color(), static_cast<int32_t>(Brush->Style())});
  }

 protected:
  friend class TXmlDocument;
  friend class TXmlParser;
  friend class TXmlReferenceParser;
  friend class TXmlWriter;

  // The child holding a typed value, or nullptr.
  const TXmlNode* ValueNode(const std::string& AName) const { return NodeByName(AName); }
  bool SkipDefault(bool Equal) const;
  // Frees the children (the destructor's part that may need the held-children stack).
  void FreeNodes();
  static void FreeChild(TXmlNode* Node);
  // Gives the heap buffers of the texts and lists to the next nodes of the thread.
  [[gnu::noinline]] void KeepBuffers();

  std::vector<std::string> FAttributes;
  TXmlDocument* FDocument = nullptr;
  TXmlNodeKind FKind = xnElement;
  std::string FName;
  std::vector<std::unique_ptr<TXmlNode>> FNodes;
  TXmlNode* FParent = nullptr;
  std::string FValue;
};

using TXmlNodeEvent = std::function<void(platform::TObject* Sender, TXmlNode* Node)>;
using TXmlProgressEvent = std::function<void(platform::TObject* Sender, int32_t Position)>;

class TXmlDocument : public platform::TPersistent {
 public:
  // An empty root element and the defaults.
  TXmlDocument();
  // Also names the root.
  explicit TXmlDocument(const std::string& RootName);
  ~TXmlDocument() override;
  TXmlDocument(const TXmlDocument&) = delete;
  TXmlDocument& operator=(const TXmlDocument&) = delete;

  std::string ClassName() const override { return "TXmlDocument"; }
  // Another document is copied with CopyFrom.
  void Assign(const platform::TPersistent* Source) override;

  virtual void CopyFrom(const TXmlDocument* Other);
  virtual std::string GetLineBreak() const;
  // Reads the text as it is (no conversion) into this document.
  virtual void ParseStream(platform::TStream* Stream);
  // Writes the text as it is; raises EFilerError "XML root element not defined." without root.
  virtual void WriteToStream(platform::TStream* Stream) const;
  virtual void SetDefaults();
  virtual void Clear();
  virtual bool IsEmpty() const;
  // Through TUtf8Stream: windows-1252 or UTF-16 with a byte-order mark. Saving writes UTF-16
  // also when the text holds a character windows-1252 lacks.
  virtual void LoadFromStream(platform::TStream* Stream);
  virtual void LoadFromFile(const std::string& FileName);
  // UTF-8 text as used inside the program (clipboard).
  virtual void ReadFromString(const std::string& Text);
  virtual void SaveToStream(platform::TStream* Stream) const;
  virtual void SaveToFile(const std::string& FileName) const;
  virtual std::string WriteToString() const;

  uint8_t BinaryEncoding() const { return FBinaryEncoding; }
  void SetBinaryEncoding(uint8_t Value) { FBinaryEncoding = Value; }
  std::vector<std::string>& RootComments() { return FRootComments; }
  const std::vector<std::string>& RootComments() const { return FRootComments; }
  const std::string& Encoding() const { return FEncoding; }
  void SetEncoding(const std::string& Value) { FEncoding = Value; }
  TXmlNode* Root() const { return FRoot.get(); }
  // Set when the text read began with a UTF-16 byte-order mark; such documents are written
  // back as UTF-16LE.
  uint8_t WideText() const { return FWideText; }
  void SetWideText(uint8_t Value) { FWideText = Value; }
  const std::string& Stylesheet() const { return FStylesheet; }
  void SetStylesheet(const std::string& Value) { FStylesheet = Value; }
  const std::string& Version() const { return FVersion; }
  void SetVersion(const std::string& Value) { FVersion = Value; }
  uint8_t WriteOnDefault() const { return FWriteOnDefault; }
  void SetWriteOnDefault(uint8_t Value) { FWriteOnDefault = Value; }
  uint8_t XmlFormat() const { return FXmlFormat; }
  void SetXmlFormat(uint8_t Value) { FXmlFormat = Value; }

  TXmlNodeEvent OnNodeNew;
  TXmlNodeEvent OnNodeLoaded;
  TXmlProgressEvent OnProgress;

 protected:
  friend class TXmlNode;
  friend class TXmlParser;
  friend class TXmlReferenceParser;
  friend class TXmlWriter;

  void DoProgress(int64_t Position) const;
  // Declaration, stylesheet and root comments; raises without a root.
  std::string HeaderText() const;
  // The same declaring another encoding.
  std::string HeaderText(const std::string& Encoding) const;
  // Reads the top-level nodes of Text, which starts at stream position Base.
  void ParseText(std::string_view Text, int64_t Base, platform::TStream* Stream);

  uint8_t FBinaryEncoding = xbeBase64;
  std::vector<std::string> FRootComments;
  std::string FEncoding;
  std::unique_ptr<TXmlNode> FRoot;
  uint8_t FWideText = 0;
  std::string FStylesheet;
  std::string FVersion;
  uint8_t FWriteOnDefault = 1;
  uint8_t FXmlFormat = xfCompact;
};

// Adapter between the 8-bit or UTF-16 bytes of a file and the UTF-8 text of the program.
// Reading takes the whole inner stream at the first Read: a UTF-16 byte-order mark (FF FE, or
// FE FF for byte-swapped text) selects UTF-16, else the bytes are windows-1252. Writing
// converts to windows-1252 ("?" for characters it lacks), or with WideText to UTF-16LE after
// FF FE. Positions count UTF-8 bytes; a writing stream reports its position but cannot move.
class TUtf8Stream : public platform::TStream {
 public:
  explicit TUtf8Stream(platform::TStream* Inner, bool AWideText = false);
  ~TUtf8Stream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, uint16_t Origin) override;
  // Reads everything from the position to the end without copying; the view lives as long
  // as the stream.
  std::string_view ReadText();

  uint8_t Mode() const { return FMode; }
  bool WideText() const { return FWideText; }
  bool ByteSwapped() const { return FByteSwapped; }
  bool Lossy() const { return FLossy; }
  platform::TStream* Inner() const { return FInner; }

  // Fired once, at the first character that did not convert.
  platform::TNotifyEvent OnLossyConversion;

 private:
  void CheckInner() const;
  void LoadAll();
  void NoteLossy();
  void WriteConverted(std::string_view Utf8);

  uint8_t FMode = 0;  // 0 unused, 1 reading, 2 writing
  bool FWideText = false;
  bool FByteSwapped = false;
  bool FLossy = false;
  platform::TStream* FInner;
  std::string FBuffer;  // reading: the converted text; writing: an unfinished UTF-8 sequence
  int64_t FPosition = 0;
};

}  // namespace document
