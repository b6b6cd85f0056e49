#include "platform/collation.h"

#include <gtest/gtest.h>

namespace quorel {
namespace {

int Compare(const char* a, const char* b) {
  return HostCompareStringA(a, -1, b, -1);
}

TEST(Collation, OrdersAsALocaleCollation) {
  // Each pair: the first sorts strictly before the second.
  const char* pairs[][2] = {
      {"", "0"},
      {"", " "},
      {"0K03", "KM01"},
      {"KM01", "KM05"},
      {"KM05", "KM0P"},
      {"KM09", "KM0P"},
      {"KM0", "KM01"},
      {"0K03", "0K04"},
      {" ", "0"},
      {"-", "0"},
      {"#", "0"},
      {"9", "A"},
      {"A", "Z"},
      {"a", "B"},
      {"km01", "KM01"},
      {"KM01", "km02"},
      {"TARN-EX", "TARN-EX "},
      {"N/A ", "NA"},
      {"#FLSH13", "KM01"},
  };
  for (const auto& pair : pairs) {
    EXPECT_EQ(Compare(pair[0], pair[1]), 1) << "'" << pair[0] << "' before '" << pair[1] << "'";
    EXPECT_EQ(Compare(pair[1], pair[0]), 3) << "'" << pair[1] << "' after '" << pair[0] << "'";
  }
}

TEST(Collation, EqualOnlyWhenTheSameIncludingCase) {
  EXPECT_EQ(Compare("", ""), 2);
  EXPECT_EQ(Compare("KM0P", "KM0P"), 2);
  EXPECT_EQ(Compare("TARN-EX ", "TARN-EX "), 2);
  EXPECT_NE(Compare("TARN-EX ", "tarn-ex "), 2);
  EXPECT_NE(Compare("APP_TITLE_HERE", "App_Title_Here"), 2);
}

TEST(Collation, HonoursExplicitLengthsAndRefusesMissingTexts) {
  EXPECT_EQ(HostCompareStringA("KM0Pxx", 4, "KM0P", -1), 2);
  EXPECT_EQ(HostCompareStringA("KM0P", 3, "KM0P", -1), 1);
  EXPECT_EQ(HostCompareStringA(nullptr, -1, "KM0P", -1), 0);
}

}  // namespace
}  // namespace quorel
