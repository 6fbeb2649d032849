#include "platform/DynLib.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(DynLibTest, MissingLibraryGivesNothing) {
  TDynLib lib("JasPerLib.dll");
  EXPECT_FALSE(lib.Loaded());
  EXPECT_EQ(lib.Handle(), nullptr);
  EXPECT_EQ(lib.Proc("jas_init"), nullptr);
  EXPECT_FALSE(lib.LastError().empty());
  EXPECT_EQ(LoadLibrary("/nonexistent/libnothing.so"), nullptr);
  EXPECT_EQ(LoadLibrary(""), nullptr);
  EXPECT_EQ(GetProcAddress(nullptr, "cos"), nullptr);
  EXPECT_FALSE(FreeLibrary(nullptr));
  TDynLib empty("");
  EXPECT_FALSE(empty.Loaded());
}

TEST(DynLibTest, LoadsAndResolvesSymbols) {
  TDynLib lib("libm.so.6");
  ASSERT_TRUE(lib.Loaded());
  auto cosine = lib.Proc<double (*)(double)>("cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(lib.Proc("no_such_symbol_here"), nullptr);
  EXPECT_EQ(lib.Proc(""), nullptr);

  // Ownership moves; the moved-from object holds nothing.
  TDynLib other(std::move(lib));
  EXPECT_TRUE(other.Loaded());
  EXPECT_FALSE(lib.Loaded());  // NOLINT(bugprone-use-after-move)
  TDynLib third;
  third = std::move(other);
  EXPECT_TRUE(third.Loaded());
  EXPECT_EQ(third.FileName(), "libm.so.6");
  third.Unload();
  EXPECT_FALSE(third.Loaded());
  // Loading again after a failure works.
  EXPECT_FALSE(third.Load("libdoesnotexist.so.1"));
  EXPECT_TRUE(third.Load("libm.so.6"));
}

TEST(DynLibTest, FreeFunctions) {
  HMODULE h = LoadLibrary("libm.so.6");
  ASSERT_NE(h, nullptr);
  auto sqrtf = reinterpret_cast<double (*)(double)>(GetProcAddress(h, "sqrt"));
  ASSERT_NE(sqrtf, nullptr);
  EXPECT_EQ(sqrtf(9.0), 3.0);
  EXPECT_TRUE(FreeLibrary(h));
}
