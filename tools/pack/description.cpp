#include "description.h"

#include <set>
#include <sstream>

namespace quorel::pack {
namespace {

using namespace layout;

std::string_view Trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string Quote(const std::string& text) {
  return "\"" + text + "\"";
}

// The line without its comment: a ';' outside double quotes starts one.
std::string_view WithoutComment(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == ';' && !quoted) return Trim(line.substr(0, i));
  }
  return line;
}

class Parser {
 public:
  Parser(std::string_view text, const std::string& fileName) : text_(text), file_(fileName) {}

  PackageDescription Run() {
    // A byte order mark, as some Windows editors write one, is no part of the first line.
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
    std::size_t at = 0;
    while (at <= text_.size()) {
      std::size_t end = text_.find('\n', at);
      if (end == std::string_view::npos) end = text_.size();
      ++line_;
      Line(Trim(text_.substr(at, end - at)));
      at = end + 1;
    }
    Finish();
    return std::move(result_);
  }

 private:
  enum class Section { None, Texts, Settings, Bank };

  [[noreturn]] void Fail(int line, const std::string& message) const {
    throw PackError(file_ + ":" + std::to_string(line) + ": " + message);
  }
  [[noreturn]] void Fail(const std::string& message) const { Fail(line_, message); }

  void Line(std::string_view line) {
    if (!line.empty() && line.front() == '#') return;
    line = WithoutComment(line);
    if (line.empty()) return;
    if (line.front() == '[') return SectionHeader(line);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) Fail("expected 'key = value' or a [section]");
    const std::string key(Trim(line.substr(0, eq)));
    const std::string_view raw = Trim(line.substr(eq + 1));
    if (key.empty()) Fail("a key is missing before '='");
    if (section_ == Section::None) Fail("'" + key + "' stands before any [section]");
    if (!seenKeys_.insert(key).second) {
      Fail("duplicate key '" + key + "' in [" + sectionName_ + "]");
    }
    switch (section_) {
      case Section::Texts:
        return TextKey(key, raw);
      case Section::Settings:
        return SettingKey(key, raw);
      case Section::Bank:
        return BankKey(key, raw);
      case Section::None:
        break;
    }
  }

  void SectionHeader(std::string_view line) {
    if (line.back() != ']') Fail("a section header must end with ']'");
    const std::string name(Trim(line.substr(1, line.size() - 2)));
    seenKeys_.clear();
    sectionName_ = name;
    if (name == "texts" || name == "settings") {
      int& seen = name == "texts" ? textsLine_ : settingsLine_;
      if (seen != 0) Fail("duplicate section [" + name + "]");
      seen = line_;
      section_ = name == "texts" ? Section::Texts : Section::Settings;
      return;
    }
    if (name.size() > 4 && name.compare(0, 4, "bank") == 0 && AllDigits(name.substr(4)) &&
        name[4] != '0') {
      if (name.size() > 5 || name[4] > '0' + kBanks) {
        Fail("[" + name + "]: a package holds at most " + std::to_string(kBanks) + " banks");
      }
      bank_ = name[4] - '1';
      if (banks_[bank_]) Fail("duplicate section [" + name + "]");
      banks_[bank_].emplace();
      banks_[bank_]->line = line_;
      section_ = Section::Bank;
      return;
    }
    Fail("unknown section [" + name + "]");
  }

  std::string Unquoted(std::string_view value, const std::string& key) const {
    if (!value.empty() && value.front() == '"') {
      if (value.size() < 2 || value.back() != '"') Fail(key + ": unbalanced quotes");
      value = value.substr(1, value.size() - 2);
    } else if (!value.empty() && value.back() == '"') {
      Fail(key + ": unbalanced quotes");
    }
    // Quotes only delimit a value: one inside it would read differently once written back.
    if (value.find('"') != std::string_view::npos) Fail(key + ": a double quote inside the value");
    for (const char c : value) {
      const auto code = static_cast<unsigned char>(c);
      if (code < 0x20 || code == 0x7F) {
        Fail(key + ": control character " + std::to_string(code) + " in the value");
      }
    }
    return std::string(value);
  }

  void CheckFits(const std::string& what, const std::string& value, std::size_t maxChars) const {
    if (value.size() > maxChars) {
      Fail(what + " is " + std::to_string(value.size()) + " characters long; its field holds " +
           std::to_string(maxChars));
    }
  }

  void TextKey(const std::string& key, std::string_view raw) {
    for (int t = 0; t < kTextCount; ++t) {
      if (key != kTexts[t].name) continue;
      std::string value = Unquoted(raw, key);
      CheckFits(key, value, kTexts[t].MaxValueChars());
      result_.texts[t] = std::move(value);
      textLines_[t] = line_;
      return;
    }
    Fail("unknown key '" + key + "' in [texts]");
  }

  void SettingKey(const std::string& key, std::string_view raw) {
    if (key == kSettings[kHOW_MANY_BIN].name) {
      Fail("HOW_MANY_BIN is not set by hand: it is the number of [bankN] sections");
    }
    for (int s = 0; s < kDescribedSettings; ++s) {
      if (key != kSettings[s].name) continue;
      const std::string value = Unquoted(raw, key);
      if (value.size() != 1 || !AllDigits(value)) {
        Fail(key + " must be one digit from 0 to 9, not '" + value + "'");
      }
      result_.settings[s] = static_cast<uint8_t>(value[0] - '0');
      settingLines_[s] = line_;
      return;
    }
    Fail("unknown key '" + key + "' in [settings]");
  }

  void BankKey(const std::string& key, std::string_view raw) {
    BankDescription& bank = *banks_[bank_];
    if (key == "image") {
      bank.image = Unquoted(raw, key);
      if (bank.image.empty()) Fail("image: no path given");
      bank.imageLine = line_;
    } else if (key == "new_fw") {
      bank.newRevision = Unquoted(raw, key);
      CheckFits(key, bank.newRevision, kNewRevisionSlots[bank_].MaxValueChars());
      newRevisionGiven_[bank_] = true;
    } else if (key == "start") {
      const std::string value = Unquoted(raw, key);
      if (!AllDigits(value) || value.size() > static_cast<std::size_t>(kSlotDigits)) {
        Fail("start must be a number of bytes, not '" + value + "'");
      }
      const unsigned long long start = std::stoull(value);
      if (start >= kImageBytes) {
        Fail("start " + value + " lies past the image area of " + std::to_string(kImageBytes) +
             " bytes");
      }
      bank.start = static_cast<uint32_t>(start);
      bank.startLine = line_;
    } else if (key.size() == 5 && key.compare(0, 4, "rule") == 0 && key[4] >= '1' &&
               key[4] < '1' + kEntriesPerBank) {
      bank.rules[key[4] - '1'] = ParseRule(key, raw);
    } else {
      Fail("unknown key '" + key + "' in [" + sectionName_ + "]");
    }
  }

  // "min | max | vendor | product"; a bar inside quotes belongs to the text.
  Rule ParseRule(const std::string& key, std::string_view raw) const {
    std::vector<std::string_view> parts;
    bool quoted = false;
    std::size_t from = 0;
    for (std::size_t i = 0; i <= raw.size(); ++i) {
      if (i < raw.size() && raw[i] == '"') quoted = !quoted;
      if (i == raw.size() || (raw[i] == '|' && !quoted)) {
        parts.push_back(Trim(raw.substr(from, i - from)));
        from = i + 1;
      }
    }
    if (quoted) Fail(key + ": unbalanced quotes");
    if (parts.size() != kEntryFieldCount) {
      Fail(key + " needs four fields 'min | max | vendor | product', not " +
           std::to_string(parts.size()));
    }
    std::string texts[kEntryFieldCount];
    for (int f = 0; f < kEntryFieldCount; ++f) {
      texts[f] = Unquoted(parts[f], key);
      // The program compares only the counted characters: more would admit other drives.
      CheckFits(key + " " + std::string(kEntryFields[f].name), texts[f], kEntryFields[f].counted);
    }
    // The program reads such a first rule as a placeholder that admits every drive.
    if (key == "rule1" && texts[kMinRevision] == kPlaceholderPrefix.substr(0, 4) &&
        texts[kMaxRevision].starts_with(kPlaceholderMark) &&
        texts[kVendor].starts_with(kPlaceholderMark) &&
        texts[kProduct].starts_with(kPlaceholderMark)) {
      Fail(key + " reads as a placeholder, which admits every drive: leave rule1 out to mean that");
    }
    return {texts[0], texts[1], texts[2], texts[3]};
  }

  void Finish() {
    if (textsLine_ == 0) throw PackError(file_ + ": no [texts] section");
    for (int t = 0; t < kTextCount; ++t) {
      if (textLines_[t] == 0) {
        Fail(textsLine_, "missing key '" + std::string(kTexts[t].name) + "' in [texts]");
      }
    }
    if (settingsLine_ == 0) throw PackError(file_ + ": no [settings] section");
    for (int s = 0; s < kDescribedSettings; ++s) {
      if (settingLines_[s] == 0) {
        Fail(settingsLine_, "missing key '" + std::string(kSettings[s].name) + "' in [settings]");
      }
    }
    for (int b = 1; b < kBanks; ++b) {
      if (banks_[b] && !banks_[b - 1]) {
        Fail(banks_[b]->line, "[bank" + std::to_string(b + 1) + "] without [bank" +
                                  std::to_string(b) + "]: banks are numbered from 1 without gaps");
      }
    }
    if (!banks_[0]) {
      throw PackError(file_ + ": no [bank1] section: a package holds 1 to " +
                      std::to_string(kBanks) + " banks");
    }
    for (int b = 0; b < kBanks; ++b) {
      if (!banks_[b]) continue;
      const std::string name = "[bank" + std::to_string(b + 1) + "]";
      if (banks_[b]->imageLine == 0) Fail(banks_[b]->line, "missing key 'image' in " + name);
      if (!newRevisionGiven_[b]) Fail(banks_[b]->line, "missing key 'new_fw' in " + name);
      if (!banks_[b]->rules[0]) {
        result_.warnings.push_back(file_ + ":" + std::to_string(banks_[b]->line) + ": warning: " +
                                   name + " has no rule1: its bank admits every drive");
      }
      result_.banks.push_back(std::move(*banks_[b]));
    }
  }

  std::string_view text_;
  std::string file_;
  int line_ = 0;
  Section section_ = Section::None;
  std::string sectionName_;
  std::set<std::string> seenKeys_;
  int textsLine_ = 0;
  int settingsLine_ = 0;
  std::array<int, kTextCount> textLines_{};
  std::array<int, kDescribedSettings> settingLines_{};
  std::array<std::optional<BankDescription>, kBanks> banks_;
  std::array<bool, kBanks> newRevisionGiven_{};
  int bank_ = 0;
  PackageDescription result_;
};

}  // namespace

PackageDescription ParseDescription(std::string_view text, const std::string& fileName) {
  return Parser(text, fileName).Run();
}

std::string FormatDescription(const PackageDescription& description,
                              const std::vector<std::string>& bankNotes) {
  std::ostringstream out;
  out << "[texts]\n";
  for (int t = 0; t < kTextCount; ++t) {
    out << kTexts[t].name << " = " << Quote(description.texts[t]) << "\n";
  }
  out << "\n[settings]\n";
  for (int s = 0; s < kDescribedSettings; ++s) {
    out << kSettings[s].name << " = " << int{description.settings[s]} << "\n";
  }
  for (std::size_t b = 0; b < description.banks.size(); ++b) {
    const BankDescription& bank = description.banks[b];
    out << "\n[bank" << b + 1 << "]\n";
    if (b < bankNotes.size() && !bankNotes[b].empty()) out << "; " << bankNotes[b] << "\n";
    out << "image = " << Quote(bank.image) << "\n";
    if (bank.start) out << "start = " << *bank.start << "\n";
    out << "new_fw = " << Quote(bank.newRevision) << "\n";
    for (int r = 0; r < kEntriesPerBank; ++r) {
      if (!bank.rules[r]) continue;
      const Rule& rule = *bank.rules[r];
      out << "rule" << r + 1 << " = " << Quote(rule.minRevision) << " | " << Quote(rule.maxRevision)
          << " | " << Quote(rule.vendor) << " | " << Quote(rule.product) << "\n";
    }
  }
  // A damaged or foreign block may hold what no description can say; the text says so rather
  // than pass for one that packs again.
  try {
    ParseDescription(out.str(), "dump");
  } catch (const PackError& error) {
    return "; This description does not pack again as written: " + std::string(error.what()) +
           "\n" + out.str();
  }
  return out.str();
}

}  // namespace quorel::pack
