#include "app/switches.h"

#include <vector>

namespace quorel {
namespace {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, inWord = false;
  for (const char c : line) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::string Lower(std::string text) {
  // ASCII only: switch names are, and the C runtime's locale is not needed for that.
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

Switches ParseSwitches(const std::string& commandLine) {
  Switches result;
  for (const std::string& word : Words(commandLine)) {
    result.any = true;
    const std::string name = word.size() > 1 && (word[0] == '/' || word[0] == '-')
                                 ? Lower(word.substr(1))
                                 : std::string();
    if (name == "s" || name == "quiet") {
      result.silent = true;
    } else if (name == "force") {
      result.force = true;
    } else if (name == "check") {
      result.check = true;
    } else if (name == "reboot") {
      result.reboot = true;
    } else if (name == "?") {
      result.help = true;
    } else if (name.rfind("log=", 0) == 0 && word.size() > 5) {
      result.logPath = word.substr(5);
    } else if (result.error.empty()) {
      result.error = word;
    }
  }
  return result;
}

}  // namespace quorel
