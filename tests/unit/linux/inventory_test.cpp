// The listing's JSON: identity bytes as a drive may answer them.
#include "inventory.h"

#include <gtest/gtest.h>

namespace quorel::flash_tool {
namespace {

TEST(Inventory, AwkwardIdentityBytesBecomeValidJson) {
  const struct {
    std::string bytes;
    const char* json;
  } rows[] = {
      {"TARN-EX ", "\"TARN-EX \""},
      {"QU\"OTE", "\"QU\\\"OTE\""},
      {"BACK\\SL", "\"BACK\\\\SL\""},
      {std::string("NUL\0X", 5), "\"NUL\\u0000X\""},
      {"\x01\x1f\x7f", "\"\\u0001\\u001f\\u007f\""},
      {"\xe9\xff\x80", "\"\\u00e9\\u00ff\\u0080\""},  // Latin-1, not UTF-8
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.json);
    EXPECT_EQ(JsonText(row.bytes), row.json);
  }
}

}  // namespace
}  // namespace quorel::flash_tool
