// The shipped package header written out field by field, deliberately without package/layout.h:
// a block is checked against these literal offsets, widths and contents, so a wrong entry in the
// layout table cannot hide behind itself.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace quorel::test {

struct ExpectedField {
  uint32_t offset;
  uint32_t width;
  const char* content;
};

// Every field except the credit (0, 21), the contact (34, 15) and the title (49, 64).
inline const ExpectedField kShippedFields[] = {
    {21, 13, "v2.0.0"},
    {113, 12, "2004/01/14"},
    {125, 32, "N/A"},
    {157, 65, "TARN-EX DVDRW QVX-270T"},
    {222, 16, "FW_CONSTRAINTS="},
    {1774, 13, "N2OMESSAGE=0"},
    {1787, 10, "CHKDISC=0"},
    {1797, 18, "BOOTCODE=1"},
    {1815, 9, "REBOOT=1"},
    {1824, 11, "AUTOMODE=0"},
    {1835, 10, "CLOSEAP=0"},
    {1845, 10, "WARNING=1"},
    {1855, 12, "NBWARNING=0"},
    {1867, 20, "HOW_MANY_BIN=1"},
    {1887, 22, "BIN_START1=0000000000"},
    {1909, 22, "BIN_START2=0000000000"},
    {1931, 22, "BIN_START3=0000000000"},
    {1953, 22, "BIN_START4=0000000000"},
    {1975, 21, "BIN_SIZE1=0001048576"},
    {1996, 21, "BIN_SIZE2=0000000000"},
    {2017, 21, "BIN_SIZE3=0000000000"},
    {2038, 21, "BIN_SIZE4=0000000000"},
    {2059, 16, "NEW_FW1=KM0P"},
    {2075, 16, "NEW_FW2=N/A "},
    {2091, 16, "NEW_FW3=N/A "},
    {2107, 16, "NEW_FW4=N/A "},
};

// The content at the offset, then zeros to the end of the field.
inline void ExpectField(const uint8_t* block, const ExpectedField& field) {
  const std::size_t length = std::strlen(field.content);
  ASSERT_LT(length, field.width) << "at offset " << field.offset;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block + field.offset), length), field.content)
      << "at offset " << field.offset;
  for (uint32_t i = static_cast<uint32_t>(length); i < field.width; ++i) {
    ASSERT_EQ(block[field.offset + i], 0) << "byte " << i << " of the field at " << field.offset;
  }
}

// A text of our own choosing: it ends inside its field and is zero-filled behind its end.
inline std::string ExpectFreeText(const uint8_t* block, uint32_t offset, uint32_t width) {
  const char* text = reinterpret_cast<const char*>(block + offset);
  const auto length = static_cast<std::size_t>(std::find(text, text + width, '\0') - text);
  EXPECT_LT(length, width) << "the text at " << offset << " has no end inside its field";
  ExpectField(block, {offset, width, std::string(text, length).c_str()});
  return std::string(text, length);
}

// The shipped header with the given window title.
inline void ExpectShippedHeader(const uint8_t* block, const char* title) {
  const std::string credit = ExpectFreeText(block, 0, 21);
  ASSERT_FALSE(credit.empty());
  EXPECT_EQ(credit.front(), '[');
  EXPECT_EQ(credit.back(), ']');
  ExpectFreeText(block, 34, 15);
  ExpectField(block, {49, 64, title});
  for (const ExpectedField& field : kShippedFields) ExpectField(block, field);

  // Constraint table at 238: 4 banks of 8 entries of 48 bytes; fields at 0, 8, 16, 28 of widths
  // 8, 8, 12, 20. Bank 1 holds two rules, every other place a placeholder "#FLSH<bank><entry>".
  for (int bank = 1; bank <= 4; ++bank) {
    for (int entry = 1; entry <= 8; ++entry) {
      const uint32_t at = 238 + 384 * (bank - 1) + 48 * (entry - 1);
      std::string min = "#FLSH" + std::to_string(bank) + std::to_string(entry);
      std::string max = "#", vendor = "#", product = "#";
      if (bank == 1 && entry <= 2) {
        min = max = entry == 1 ? "KM01" : "0K03";
        if (entry == 1) max = "KM0P";
        vendor = "TARN-EX ";
        product = "DVDRW QVX-270T  ";
      }
      SCOPED_TRACE("bank " + std::to_string(bank) + " entry " + std::to_string(entry));
      ExpectField(block, {at, 8, min.c_str()});
      ExpectField(block, {at + 8, 8, max.c_str()});
      ExpectField(block, {at + 16, 12, vendor.c_str()});
      ExpectField(block, {at + 28, 20, product.c_str()});
    }
  }
}

}  // namespace quorel::test
