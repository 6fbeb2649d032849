#include "document/dtpCommand.h"

#include <gtest/gtest.h>

#include <vector>

using namespace document;

TEST(dtpCommand, SizeOfEmptyCommandIsFour) {
  TdtpCommand c(ckShapeAdded, 7, "", "");
  EXPECT_EQ(c.GetSize(), 4);
  EXPECT_FALSE(c.Grouped);
  EXPECT_EQ(c.Stream, nullptr);
  EXPECT_EQ(c.Target, 7);
}

TEST(dtpCommand, SizeCountsNameValueAndStream) {
  auto s = std::make_unique<platform::TMemoryStream>();
  std::vector<uint8_t> bytes(1000, 0x5A);
  s->WriteBuffer(bytes.data(), 1000);
  EXPECT_EQ(s->GetPosition(), 1000);
  TdtpCommand c(ckShapeRemoved, 3, "ClassName", "TdtpBitmapShape", std::move(s));
  EXPECT_EQ(c.GetSize(), 9 + 4 + 15 + 1000);
  // The command takes the stream positioned at its start, ready to be read back.
  EXPECT_EQ(c.Stream->GetPosition(), 0);
  EXPECT_EQ(c.Kind, ckShapeRemoved);
  EXPECT_EQ(c.Value, "TdtpBitmapShape");
}

TEST(dtpCommand, PropertyChangeKeepsOldValueText) {
  TdtpCommand c(ckPropertyChange, 1, "DocLeft", "12.5");
  EXPECT_EQ(c.GetSize(), 7 + 4 + 4);
  EXPECT_EQ(c.Name, "DocLeft");
}
