// The class library's filer: defined properties written by TWriter in the binary form and read
// back by TReader, value encodings, the ancestor handed to DefineProperties, and errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Classes.h"

using namespace platform;

namespace {

class TSample : public TPersistent {
 public:
  std::string ClassName() const override { return "TSample"; }
  int32_t Number = 0;
  std::string Text;
  bool Flag = false;
  std::vector<uint8_t> Blob;
  TPersistent* SeenAncestor = nullptr;

 protected:
  void DefineProperties(TFiler* Filer) override {
    SeenAncestor = Filer->Ancestor();
    auto* a = dynamic_cast<TSample*>(Filer->Ancestor());
    Filer->DefineProperty(
        "Number", [this](TReader* R) { Number = R->ReadInteger(); }, [this](TWriter* W) { W->WriteInteger(Number); },
        a ? a->Number != Number : Number != 0);
    Filer->DefineProperty(
        "Text", [this](TReader* R) { Text = R->ReadString(); }, [this](TWriter* W) { W->WriteString(Text); },
        !Text.empty());
    Filer->DefineProperty(
        "Flag", [this](TReader* R) { Flag = R->ReadBoolean(); }, [this](TWriter* W) { W->WriteBoolean(Flag); }, Flag);
    Filer->DefineBinaryProperty(
        "Blob",
        [this](TStream* S) {
          Blob.resize(static_cast<size_t>(S->GetSize()));
          S->ReadBuffer(Blob.data(), static_cast<int32_t>(Blob.size()));
        },
        [this](TStream* S) { S->WriteBuffer(Blob.data(), static_cast<int32_t>(Blob.size())); }, !Blob.empty());
  }
};

std::vector<uint8_t> Bytes(TMemoryStream& S) {
  auto* p = static_cast<const uint8_t*>(S.Memory());
  return std::vector<uint8_t>(p, p + S.GetSize());
}

}  // namespace

TEST(Filer, WritesTheBinaryFormAndReadsItBack) {
  TSample a;
  a.Number = -200;  // vaInt16
  a.Text = "ab";
  a.Flag = true;
  a.Blob = {9, 8, 7};
  TMemoryStream s;
  TWriter w(&s);
  w.WriteProperties(&a);
  const std::vector<uint8_t> expected = {6,   'N', 'u', 'm', 'b', 'e', 'r', vaInt16, 0x38, 0xFF,  //
                                         4,   'T', 'e', 'x', 't', vaString, 2, 'a', 'b',            //
                                         4,   'F', 'l', 'a', 'g', vaTrue,                           //
                                         4,   'B', 'l', 'o', 'b', vaBinary, 3, 0, 0, 0, 9, 8, 7,    //
                                         vaNull};
  EXPECT_EQ(Bytes(s), expected);
  s.SetPosition(0);
  TSample b;
  TReader r(&s);
  r.ReadProperties(&b);
  EXPECT_EQ(b.Number, -200);
  EXPECT_EQ(b.Text, "ab");
  EXPECT_TRUE(b.Flag);
  EXPECT_EQ(b.Blob, a.Blob);
  EXPECT_EQ(s.GetPosition(), s.GetSize());
}

TEST(Filer, IntegerAndStringEncodingsOverTheirRange) {
  for (int32_t v : {0, 127, -128, 128, -129, 32767, -32768, 32768, -32769, INT32_MAX, INT32_MIN}) {
    TMemoryStream s;
    TWriter w(&s);
    w.WriteInteger(v);
    int expectedSize = (v >= -128 && v <= 127) ? 2 : (v >= -32768 && v <= 32767) ? 3 : 5;
    EXPECT_EQ(s.GetSize(), expectedSize) << v;
    s.SetPosition(0);
    TReader r(&s);
    EXPECT_EQ(r.ReadInteger(), v);
  }
  for (size_t n : {size_t{0}, size_t{255}, size_t{256}, size_t{70000}}) {
    std::string text(n, 'x');
    TMemoryStream s;
    TWriter w(&s);
    w.WriteString(text);
    EXPECT_EQ(s.GetSize(), static_cast<int64_t>(n + (n <= 255 ? 2 : 5))) << n;
    s.SetPosition(0);
    TReader r(&s);
    EXPECT_EQ(r.NextValue(), n <= 255 ? vaString : vaLString);
    EXPECT_EQ(r.ReadString(), text);
  }
}

TEST(Filer, AncestorDecidesWhatIsStored) {
  TSample a, ancestor;
  a.Number = 5;
  ancestor.Number = 5;
  TMemoryStream s;
  TWriter w(&s);
  w.SetAncestor(&ancestor);
  w.WriteProperties(&a);
  EXPECT_EQ(a.SeenAncestor, &ancestor);
  EXPECT_EQ(Bytes(s), std::vector<uint8_t>{vaNull});
  ancestor.Number = 6;
  TMemoryStream t;
  TWriter w2(&t);
  w2.SetAncestor(&ancestor);
  w2.WriteProperties(&a);
  EXPECT_EQ(Bytes(t), (std::vector<uint8_t>{6, 'N', 'u', 'm', 'b', 'e', 'r', vaInt8, 5, vaNull}));
}

TEST(Filer, ErrorsNameTheProperty) {
  auto readError = [](std::vector<uint8_t> bytes) -> std::string {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
    s.SetPosition(0);
    TSample b;
    TReader r(&s);
    try {
      r.ReadProperties(&b);
    } catch (const EReadError& e) {
      return e.Message;
    }
    return "";
  };
  EXPECT_EQ(readError({4, 'N', 'o', 'p', 'e', vaInt8, 1, vaNull}), "Error reading TSample.Nope: Property Nope does not exist");
  EXPECT_EQ(readError({6, 'N', 'u', 'm', 'b', 'e', 'r', vaString, 0, vaNull}),
            "Error reading TSample.Number: Invalid property value");
  EXPECT_EQ(readError({6, 'N', 'u', 'm', 'b', 'e', 'r', vaInt32, 1, 2}), "Error reading TSample.Number: Stream read error");
  EXPECT_EQ(readError({4, 'B', 'l', 'o', 'b', vaBinary, 9, 0, 0, 0, 1, 2, vaNull}),
            "Error reading TSample.Blob: Stream read error");
  EXPECT_EQ(readError({4, 'T', 'e', 'x', 't', vaLString, 0xFF, 0xFF, 0xFF, 0x7F, 'a'}),
            "Error reading TSample.Text: Stream read error");
  EXPECT_EQ(readError({6, 'N', 'u', 'm', 'b'}), "Stream read error");
  EXPECT_EQ(readError({}), "Stream read error");
  // Property names are matched without regard to case, as the class library does.
  EXPECT_EQ(readError({6, 'n', 'U', 'M', 'B', 'E', 'R', vaInt8, 3, vaNull}), "");
}
