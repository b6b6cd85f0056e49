// The compatibility rules: whether a drive may be updated, with which bank, and whether it
// already carries that bank's new revision.
#pragma once

#include "device/device_entry.h"
#include "package/package_view.h"

namespace quorel {

// Writes entry.updatable on every call, and bankIndex and upToDate when the entry becomes
// updatable. The first bank, and within it the first entry, that admits the drive decides.
void ApplyCompatibilityRules(DeviceEntry& entry, const PackageView& package,
                             const PackageSettings& settings);

// Whether an updatable entry already reports its bank's new revision (or a later one), whatever
// the package says about asking.
bool CarriesNewRevision(const DeviceEntry& entry, const PackageView& package);

}  // namespace quorel
