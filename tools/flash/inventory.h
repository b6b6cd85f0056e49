// What a check or a listing tells of each optical drive: its device, address, identity and the
// package's verdict, for the terminal and as one JSON document.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "app/quorel_main.h"
#include "platform/linux/linux_platform.h"

namespace quorel::flash_tool {

struct DriveReport {
  std::string device;   // /dev/srN
  std::string address;  // adapter-path-target-lun, empty when the drive was not opened
  std::string vendor, product, revision;  // as the drive answered, trailing blanks cut
  std::string verdict;  // a stable key: would-update, up-to-date, other-model, busy, ...
  std::string words;    // the verdict for people
};

// Every optical drive of the platform, in its order, judged from the logic's list; `busy` holds
// the device paths another run holds (not opened).
std::vector<DriveReport> Inventory(const TQuorelMain& main, const LinuxPlatform& os,
                                   const std::set<std::string>& busy);

// The outcome's stable key: update-applies, nothing-to-do, busy, unreadable.
const char* OutcomeKey(Outcome outcome, bool anyBusy);

// One JSON document (schema 1): the program, the package, every drive and the outcome. Identity
// bytes above 7Fh are written as the characters of those codes (\u00XX, their Latin-1 reading).
std::string InventoryJson(const std::vector<DriveReport>& drives, const PackageView& package,
                          const char* outcomeKey, const char* version);

// A JSON string of `bytes` read as Latin-1.
std::string JsonText(const std::string& bytes);

}  // namespace quorel::flash_tool
