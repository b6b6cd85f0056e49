#include "device/compat.h"

#include <algorithm>
#include <cstddef>
#include <string>

#include "package/bytes.h"
#include "package/layout.h"

namespace quorel {
namespace {

// A working text: the field's characters up to its first zero, at most maxChars of them (a
// "%.Ns" conversion). Unlike FixedFieldText it takes a null field and never throws: a missing
// field or a failure while forming the text leaves it empty.
std::string Working(const char* field, std::size_t maxChars) noexcept {
  try {
    if (field == nullptr) return {};
    return FixedFieldText(field, maxChars);
  } catch (...) {
    return {};
  }
}

bool Equal(const std::string& a, const std::string& b) {
  return CompareText(a.c_str(), b.c_str()) == 0;
}

// The first character of a text, as a text of its own (empty when the text is).
std::string FirstChar(const std::string& text) {
  return text.substr(0, 1);
}

}  // namespace

void ApplyCompatibilityRules(DeviceEntry& entry, const PackageView& package,
                             const PackageSettings& settings) {
  if (entry.present != 1 || package.ImageIsPlaceholder()) {
    entry.updatable = 0;
    return;
  }
  entry.updatable = 0;

  using layout::kEntryFields;
  const std::string e = Working(entry.revision, 4);
  const std::string f = Working(entry.vendor, 8);
  const std::string g = Working(entry.product, 16);

  // The table has four banks; a larger count is refused at start-up and never read here.
  const int banks = std::min<int>(settings.HOW_MANY_BIN, layout::kBanks);
  for (int j = 0; j < banks; ++j) {
    for (int k = 0; k < layout::kEntriesPerBank; ++k) {
      const ConstraintEntry rule = package.Constraint(j, k);
      const std::string a = Working(rule.minRevision, kEntryFields[layout::kMinRevision].counted);
      const std::string b = Working(rule.maxRevision, kEntryFields[layout::kMaxRevision].counted);
      const std::string c = Working(rule.vendor, kEntryFields[layout::kVendor].counted);
      const std::string d = Working(rule.product, kEntryFields[layout::kProduct].counted);

      // A placeholder in a bank's first place leaves the bank without restrictions.
      if (k == 0 && Equal(a, "#FLS") && Equal(FirstChar(c), "#") && Equal(FirstChar(b), "#") &&
          Equal(FirstChar(d), "#")) {
        entry.updatable = 1;
        break;
      }

      if (!c.empty() && !Equal(f, c)) continue;
      if (!d.empty() && !Equal(g, d)) continue;
      if (!a.empty() && CompareText(e.c_str(), a.c_str()) < 0) continue;
      if (!b.empty() && CompareText(e.c_str(), b.c_str()) > 0) continue;
      entry.updatable = 1;
      break;
    }

    if (entry.updatable == 1) {
      entry.bankIndex = static_cast<int16_t>(j);
      const std::string h = Working(package.NewRevisionText(j), 4);
      entry.upToDate = 0;
      if (CompareText(e.c_str(), h.c_str()) >= 0 && settings.N2OMESSAGE == 1) entry.upToDate = 1;
      return;
    }
  }
}

bool CarriesNewRevision(const DeviceEntry& entry, const PackageView& package) {
  const std::string e = Working(entry.revision, 4);
  const std::string h = Working(package.NewRevisionText(entry.bankIndex), 4);
  return CompareText(e.c_str(), h.c_str()) >= 0;
}

}  // namespace quorel
