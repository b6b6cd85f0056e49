#include "description.h"

#include <gtest/gtest.h>

#include <string>

namespace quorel::pack {
namespace {

// Line numbers matter: the refusals below name them.
const std::string kBase =
    "[texts]\n"                                                     // 1
    "credit = \"[Quorel developers]\"\n"                            // 2
    "version = v2.0.0\n"                                            // 3
    "contact = see README\n"                                        // 4
    "title = Flash Program\n"                                       // 5
    "date = 2004/01/14\n"                                           // 6
    "spare = N/A\n"                                                 // 7
    "drive = TARN-EX DVDRW QVX-270T\n"                              // 8
    "\n"                                                            // 9
    "[settings]\n"                                                  // 10
    "N2OMESSAGE = 0\n"                                              // 11
    "CHKDISC = 0\n"                                                 // 12
    "BOOTCODE = 1\n"                                                // 13
    "REBOOT = 1\n"                                                  // 14
    "AUTOMODE = 0\n"                                                // 15
    "CLOSEAP = 0\n"                                                 // 16
    "WARNING = 1\n"                                                 // 17
    "NBWARNING = 0\n"                                               // 18
    "\n"                                                            // 19
    "[bank1]\n"                                                     // 20
    "image = demo-fw.bin\n"                                         // 21
    "new_fw = KM0P\n"                                               // 22
    "rule1 = KM01 | KM0P | \"TARN-EX \" | \"DVDRW QVX-270T  \"\n";  // 23

std::string Replaced(const std::string& from, const std::string& to) {
  std::string text = kBase;
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string RefusalOf(const std::string& text) {
  try {
    ParseDescription(text, "PACKAGE.ini");
  } catch (const PackError& error) {
    return error.what();
  }
  return "(accepted)";
}

TEST(Description, RefusesNamingFileAndLine) {
  struct Case {
    std::string from, to;
    int line;
    std::string message;  // after "PACKAGE.ini:<line>: "
  } cases[] = {
      {"CHKDISC = 0", "foo = 1", 12, "unknown key 'foo' in [settings]"},
      {"date =", "Date =", 6, "unknown key 'Date' in [texts]"},
      {"new_fw = KM0P", "new_fw = KM0P\nrule9 = | | |", 23, "unknown key 'rule9' in [bank1]"},
      {"[settings]", "[setting]", 10, "unknown section [setting]"},
      {"[texts]", "x = 1\n[texts]", 1, "'x' stands before any [section]"},
      {"spare = N/A", "spare N/A", 7, "expected 'key = value' or a [section]"},
      {"[bank1]", "[bank1", 20, "a section header must end with ']'"},
      {"new_fw = KM0P", "new_fw = KM0P\nnew_fw = KM0Q", 23, "duplicate key 'new_fw' in [bank1]"},
      {"\n[settings]", "\n[texts]\n[settings]", 10, "duplicate section [texts]"},
      {"title = Flash Program", "title = " + std::string(64, 'T'), 5,
       "title is 64 characters long; its field holds 63"},
      {"credit = \"[Quorel developers]\"", "credit = \"[Quorel contributors]\"", 2,
       "credit is 21 characters long; its field holds 20"},
      {"new_fw = KM0P", "new_fw = KM0PABCD", 22, "new_fw is 8 characters long; its field holds 7"},
      // Rule fields hold what the program compares: more would admit other drives.
      {"\"TARN-EX \"", "\"TARN-EX X\"", 23, "rule1 vendor is 9 characters long; its field holds 8"},
      {"KM01 |", "KM0PZ |", 23, "rule1 minimum revision is 5 characters long; its field holds 4"},
      {"KM01 | KM0P | \"TARN-EX \" | \"DVDRW QVX-270T  \"", "\"#FLS\" | \"#\" | \"#ACME\" | \"#\"",
       23, "rule1 reads as a placeholder, which admits every drive: leave rule1 out to mean that"},
      {"spare = N/A", "spare = \"N/\001A\"", 7, "spare: control character 1 in the value"},
      {"spare = N/A", "spare = N/\"A ; x", 7, "spare: a double quote inside the value"},
      {"spare = N/A", std::string("spare = N/\0A", 11), 7,
       "spare: control character 0 in the value"},
      {"CHKDISC = 0", "CHKDISC = 12", 12, "CHKDISC must be one digit from 0 to 9, not '12'"},
      {"CHKDISC = 0", "CHKDISC = x", 12, "CHKDISC must be one digit from 0 to 9, not 'x'"},
      {"CHKDISC = 0", "CHKDISC =", 12, "CHKDISC must be one digit from 0 to 9, not ''"},
      {"NBWARNING = 0", "NBWARNING = 0\nHOW_MANY_BIN = 1", 19,
       "HOW_MANY_BIN is not set by hand: it is the number of [bankN] sections"},
      {"[bank1]", "[bank5]", 20, "[bank5]: a package holds at most 4 banks"},
      {"[bank1]", "[bank2]", 20, "[bank2] without [bank1]: banks are numbered from 1 without gaps"},
      {"[bank1]", "[bank0]", 20, "unknown section [bank0]"},
      {"new_fw = KM0P", "new_fw = KM0P\n[bank3]", 23,
       "[bank3] without [bank2]: banks are numbered from 1 without gaps"},
      {"image = demo-fw.bin\n", "", 20, "missing key 'image' in [bank1]"},
      {"image = demo-fw.bin", "image = \"\"", 21, "image: no path given"},
      {"new_fw = KM0P\n", "", 20, "missing key 'new_fw' in [bank1]"},
      {"drive = TARN-EX DVDRW QVX-270T\n", "", 1, "missing key 'drive' in [texts]"},
      {"WARNING = 1\n", "", 10, "missing key 'WARNING' in [settings]"},
      {"KM01 | KM0P |", "KM01 |", 23,
       "rule1 needs four fields 'min | max | vendor | product', not 3"},
      {"\"TARN-EX \"", "\"TARN-EX ", 23, "rule1: unbalanced quotes"},
      {"title = Flash Program", "title = \"Flash Program", 5, "title: unbalanced quotes"},
      {"new_fw = KM0P", "new_fw = KM0P\nstart = 1048576", 23,
       "start 1048576 lies past the image area of 1048576 bytes"},
      {"new_fw = KM0P", "new_fw = KM0P\nstart = -16384", 23,
       "start must be a number of bytes, not '-16384'"},
      {"new_fw = KM0P", "new_fw = KM0P\nstart = 0x4000", 23,
       "start must be a number of bytes, not '0x4000'"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RefusalOf(Replaced(c.from, c.to)),
              "PACKAGE.ini:" + std::to_string(c.line) + ": " + c.message)
        << c.to;
  }
}

TEST(Description, RefusesMissingSections) {
  EXPECT_EQ(RefusalOf(kBase.substr(0, kBase.find("[bank1]"))),
            "PACKAGE.ini: no [bank1] section: a package holds 1 to 4 banks");
  const std::size_t settings = kBase.find("[settings]");
  EXPECT_EQ(RefusalOf(kBase.substr(0, settings) + kBase.substr(kBase.find("[bank1]"))),
            "PACKAGE.ini: no [settings] section");
  // Without its header, the settings land in [texts].
  EXPECT_EQ(RefusalOf(Replaced("[settings]", "")),
            "PACKAGE.ini:11: unknown key 'N2OMESSAGE' in [texts]");
  EXPECT_EQ(RefusalOf(""), "PACKAGE.ini: no [texts] section");
}

TEST(Description, ReadsValuesAsWritten) {
  std::string text = Replaced("title = Flash Program", "title = a = b");
  text +=
      "; a comment\r\n# another\r\n"
      "rule3 = \"\" | \"KM0P\" | \"\" | \"A|B\"\r\n"
      "start = 16384\r\n"
      "\n[bank2]\nimage = \"two.bin\"\nnew_fw = \"N/A \"\n";
  const PackageDescription d = ParseDescription(text, "PACKAGE.ini");

  EXPECT_EQ(d.texts[layout::kTitle], "a = b");
  EXPECT_EQ(d.texts[layout::kCredit], "[Quorel developers]");
  EXPECT_EQ(d.settings[layout::kBOOTCODE], 1);
  EXPECT_EQ(d.settings[layout::kNBWARNING], 0);
  ASSERT_EQ(d.banks.size(), 2u);
  const BankDescription& bank1 = d.banks[0];
  EXPECT_EQ(bank1.image, "demo-fw.bin");
  EXPECT_EQ(bank1.newRevision, "KM0P");
  ASSERT_TRUE(bank1.start.has_value());
  EXPECT_EQ(*bank1.start, 16384u);
  ASSERT_TRUE(bank1.rules[0].has_value());
  EXPECT_EQ(bank1.rules[0]->minRevision, "KM01");
  EXPECT_EQ(bank1.rules[0]->vendor, "TARN-EX ");
  EXPECT_EQ(bank1.rules[0]->product, "DVDRW QVX-270T  ");
  EXPECT_FALSE(bank1.rules[1].has_value());
  ASSERT_TRUE(bank1.rules[2].has_value());
  EXPECT_EQ(bank1.rules[2]->minRevision, "");
  EXPECT_EQ(bank1.rules[2]->maxRevision, "KM0P");
  EXPECT_EQ(bank1.rules[2]->product, "A|B");
  EXPECT_EQ(d.banks[1].newRevision, "N/A ");
  EXPECT_FALSE(d.banks[1].start.has_value());
  // A bank without rule1 admits every drive: packed, with a warning.
  ASSERT_EQ(d.warnings.size(), 1u);
  EXPECT_EQ(d.warnings[0],
            "PACKAGE.ini:29: warning: [bank2] has no rule1: its bank admits every drive");

  // Comments after values and section headers, as the format's documentation writes them.
  const PackageDescription commented = ParseDescription(
      Replaced("spare = N/A", "spare = N/A   ; unused") +
          "rule2 = | | \"A;B\" | ; any\n[bank2] ; b\n" + "image = b.bin\nnew_fw = \"KM;1\"",
      "c.ini");
  EXPECT_EQ(commented.texts[layout::kSpare], "N/A");
  EXPECT_EQ(commented.banks[0].rules[1]->vendor, "A;B");
  EXPECT_EQ(commented.banks[1].newRevision, "KM;1");

  EXPECT_EQ(ParseDescription("\xEF\xBB\xBF" + kBase, "bom.ini").texts[layout::kVersion], "v2.0.0");
  const PackageDescription quoted =
      ParseDescription(Replaced("title = Flash Program", "title =   \"  Two  blanks  \"  "), "x");
  EXPECT_EQ(quoted.texts[layout::kTitle], "  Two  blanks  ");
}

TEST(Description, FormatReadsBackTheSame) {
  std::string text = kBase + "rule4 = \"\" | \"\" | \"OTHER CO\" | \"\"\nstart = 32768\n";
  text += "[bank2]\nimage = b.bin\nnew_fw = KM1A\nrule8 = KM10 | KM1Z | \"A \" | \"B \"\n";
  const std::string once = FormatDescription(ParseDescription(text, "a.ini"));
  const std::string twice = FormatDescription(ParseDescription(once, "b.ini"));
  EXPECT_EQ(once, twice);
  EXPECT_NE(once.find("rule8 = \"KM10\" | \"KM1Z\" | \"A \" | \"B \""), std::string::npos) << once;
  EXPECT_NE(once.find("start = 32768"), std::string::npos);

  // What a foreign block may hold and no description can say is dumped under a warning.
  PackageDescription foreign = ParseDescription(text, "a.ini");
  foreign.texts[layout::kSpare] = "tab\there";
  const std::string dumped = FormatDescription(foreign);
  EXPECT_EQ(dumped.rfind("; This description does not pack again as written: dump:7: spare: "
                         "control character 9 in the value\n",
                         0),
            0u)
      << dumped;
}

}  // namespace
}  // namespace quorel::pack
