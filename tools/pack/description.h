// The package description: an INI text that says what goes into a package block.
//
//   [texts]     credit, version, contact, title, date, spare, drive
//   [settings]  N2OMESSAGE, CHKDISC, BOOTCODE, REBOOT, AUTOMODE, CLOSEAP, WARNING, NBWARNING
//               (one digit each; HOW_MANY_BIN is the number of bank sections)
//   [bank1] ... [bank4]
//               image = path of the image, relative to the description
//               new_fw = the revision the image installs
//               start = offset into the image area (optional: after the previous bank)
//               rule1 ... rule8 = min | max | vendor | product
//
// Values may be written in double quotes to keep leading or trailing blanks ("TARN-EX "); a
// value holds no double quote of its own.
// A ';' outside quotes starts a comment; so does a '#' at the start of a line. Values hold no
// control characters. Rule fields hold only the characters the program compares (4 | 4 | 8 | 16).
// A missing rule is a placeholder entry; a written rule1 that reads as one is refused.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "package/layout.h"

namespace quorel::pack {

// A refusal. The message names the file, and the line where there is one
// ("PACKAGE.ini:12: unknown key 'foo' in [settings]").
class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Rule {
  std::string minRevision, maxRevision, vendor, product;
};

struct BankDescription {
  std::string image;  // as written: relative to the description, or absolute
  std::optional<uint32_t> start;
  std::string newRevision;
  std::array<std::optional<Rule>, layout::kEntriesPerBank> rules;  // empty: placeholder entry
  // Where each part stands in the description, for messages (0: not given).
  int line = 0;
  int imageLine = 0;
  int startLine = 0;
};

// The settings a description gives, in block order: every setting but HOW_MANY_BIN.
inline constexpr int kDescribedSettings = layout::kHOW_MANY_BIN;

struct PackageDescription {
  std::array<std::string, layout::kTextCount> texts;   // in layout::TextId order
  std::array<uint8_t, kDescribedSettings> settings{};  // 0-9, in layout::SettingId order
  std::vector<BankDescription> banks;                  // 1 to 4
  std::vector<std::string> warnings;                   // sound but worth a look
};

// Reads a description; fileName is used in messages. Throws PackError.
PackageDescription ParseDescription(std::string_view text, const std::string& fileName);

// Writes a description in the format ParseDescription reads. bankNotes[i], when given, goes as
// a comment line at the head of bank i's section. A description that would not read back (from
// a damaged or foreign block) begins with a comment that says why.
std::string FormatDescription(const PackageDescription& description,
                              const std::vector<std::string>& bankNotes = {});

}  // namespace quorel::pack
