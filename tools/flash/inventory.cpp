#include "inventory.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "device/compat.h"
#include "package/bytes.h"

namespace quorel::flash_tool {
namespace {

// Latin-1 to UTF-8: what the JSON library accepts; it then escapes every non-ASCII character.
std::string Utf8OfLatin1(const std::string& bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

std::string Trimmed(const char* field, size_t width) {
  std::string text = FixedFieldText(field, width);
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

std::string Dump(const nlohmann::json& value) {
  return value.dump(2, ' ', true);
}

}  // namespace

std::vector<DriveReport> Inventory(const TQuorelMain& main, const LinuxPlatform& os,
                                   const std::set<std::string>& busy) {
  std::vector<DriveReport> reports;
  AtapiDevice* engine = main.ListEngine();
  const PackageView& package = main.Package();
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    DriveReport report;
    report.device = os.DevicePathOf(letter);
    if (report.device.empty()) break;
    const DeviceEntry* entry = nullptr;
    for (unsigned i = 0; engine != nullptr && i < engine->DeviceCount(); ++i) {
      const DeviceEntry* candidate = engine->GetEntry(i);
      if (candidate != nullptr && candidate->rootPath[0] == letter) entry = candidate;
    }
    if (busy.count(report.device) != 0) {
      report.verdict = "busy";
      report.words = "busy: another run is updating it";
    } else if (entry == nullptr || entry->present != 1) {
      report.verdict = "no-access";
      report.words = "could not be opened (no access, or gone)";
    } else {
      char address[32];
      std::snprintf(address, sizeof address, "%d-%d-%d-%d", entry->adapter, entry->path,
                    entry->target, entry->lun);
      report.address = address;
      report.vendor = Trimmed(entry->vendor, sizeof entry->vendor);
      report.product = Trimmed(entry->product, sizeof entry->product);
      report.revision = Trimmed(entry->revision, sizeof entry->revision);
      if (report.vendor.empty() && report.product.empty()) {
        report.verdict = "unreadable";
        report.words = "did not answer INQUIRY";
      } else if (entry->updatable != 1) {
        report.verdict = "other-model";
        report.words = "not for this package";
      } else if (CarriesNewRevision(*entry, package)) {
        report.verdict = "up-to-date";
        report.words = "has the new firmware";
      } else {
        report.verdict = "would-update";
        report.words =
            std::string("would be updated to ") + package.NewRevisionText(entry->bankIndex);
      }
    }
    reports.push_back(report);
  }
  return reports;
}

const char* OutcomeKey(Outcome outcome, bool anyBusy) {
  if (outcome == Outcome::UpdateApplies) return "update-applies";
  if (outcome != Outcome::NothingToDo) return "unreadable";
  return anyBusy ? "busy" : "nothing-to-do";
}

std::string InventoryJson(const std::vector<DriveReport>& drives, const PackageView& package,
                          const char* outcomeKey, const char* version) {
  nlohmann::json document;
  document["schema"] = 1;
  document["program"] = {{"name", "quorel-flash"}, {"version", version}};
  document["package"] = {{"title", Utf8OfLatin1(package.TitleText())},
                         {"newRevision", Utf8OfLatin1(package.NewRevisionText(0))}};
  nlohmann::json list = nlohmann::json::array();
  for (const DriveReport& drive : drives) {
    list.push_back({{"device", Utf8OfLatin1(drive.device)},
                    {"address", drive.address},
                    {"vendor", Utf8OfLatin1(drive.vendor)},
                    {"product", Utf8OfLatin1(drive.product)},
                    {"revision", Utf8OfLatin1(drive.revision)},
                    {"verdict", drive.verdict},
                    {"verdictText", drive.words}});
  }
  document["drives"] = list;
  document["outcome"] = outcomeKey;
  return Dump(document) + "\n";
}

std::string JsonText(const std::string& bytes) {
  return Dump(nlohmann::json(Utf8OfLatin1(bytes)));
}

}  // namespace quorel::flash_tool
