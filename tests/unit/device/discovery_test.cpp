// Discovery and the device list: both scans, the fallback, the order, the identity reads, the
// list's capacity, addressing, closing and copying.
#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <string>
#include <vector>

#include "unit/device/device_rig.h"
#include "unit/flash/platform_tap.h"

namespace quorel::test {
namespace {

class Discovery : public DeviceTest {
 protected:
  std::vector<int> Adapters(AtapiDevice& engine) {
    std::vector<int> adapters;
    for (unsigned i = 0; i < engine.DeviceCount(); ++i)
      adapters.push_back(engine.GetEntry(i)->adapter);
    return adapters;
  }
};

TEST_F(Discovery, OneDriveThroughTheDriveLetters) {
  sim::LetterConfig disk;
  disk.letter = 'C';
  disk.driveType = 3;  // a fixed disk
  machine.letters.push_back(disk);
  auto e = machine.AddLetterDrive('E', 1, 2, 3, 4);
  e->identity.revision = "KM02";
  AtapiDevice engine;
  ASSERT_EQ(engine.DeviceCount(), 1);
  const DeviceEntry* entry = engine.GetEntry(0);
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry->rootPath, "E:\\");
  EXPECT_EQ(entry->adapter, 1);
  EXPECT_EQ(entry->target, 2);
  EXPECT_EQ(entry->lun, 3);
  EXPECT_EQ(entry->path, 4);
  EXPECT_EQ(entry->viaAspi, 0);
  EXPECT_EQ(entry->present, 1);
  EXPECT_EQ(Text(entry->identText, 24), "TARN-EX DVDRW QVX-270T  ");
  EXPECT_EQ(entry->identText[24], '\0');
  EXPECT_STREQ(entry->vendor, "TARN-EX ");
  EXPECT_STREQ(entry->product, "DVDRW QVX-270T  ");
  EXPECT_STREQ(entry->revision, "KM02");
  EXPECT_STREQ(entry->vendorSpecific, kSimulatedDriveMarker);
  EXPECT_EQ(entry->flashId[0], 0xBF);
  EXPECT_EQ(entry->flashId[1], 0xD8);
  EXPECT_EQ(entry->storageDescriptor[8], 5);  // the descriptor's device type
  EXPECT_EQ(engine.IsPresent(1), 0);
  EXPECT_EQ(engine.GetEntry(1), nullptr);  // index == DeviceCount()

  // Nothing stays open or allocated, and the engine addresses no drive.
  EXPECT_EQ(machine.openHandles(), 0);
  EXPECT_EQ(machine.liveHeapBlocks(), 0);
  EXPECT_EQ(engine.CurrentIndex(), AtapiDevice::kNotAddressed);
  // Two opens for the scan, one for the identity read, all with the same arguments.
  int opens = 0;
  for (const sim::Call& call : machine.Calls()) {
    if (call.name != "CreateFileA") continue;
    ++opens;
    EXPECT_EQ(call.args, "\\\\.\\E: access=C0000000 share=3 disposition=3 flags=0");
  }
  EXPECT_EQ(opens, 3);
}

TEST_F(Discovery, OneDriveThroughAspi) {
  machine.AddLetterDrive('E', 1);
  machine.AddAspiDrive(0, 1);
  g_transportRequest = kTransportRequestAspi;
  AtapiDevice engine;
  ASSERT_EQ(engine.DeviceCount(), 1);
  const DeviceEntry* entry = engine.GetEntry(0);
  EXPECT_STREQ(entry->rootPath, "");
  EXPECT_EQ(entry->adapter, 0);
  EXPECT_EQ(entry->target, 1);
  EXPECT_EQ(entry->path, 0);
  EXPECT_EQ(entry->viaAspi, 1);
  EXPECT_STREQ(entry->revision, "KM01");
  EXPECT_EQ(entry->storageDescriptor[8], 0);
  EXPECT_TRUE(engine.UseAspi());
  EXPECT_EQ(machine.loadedModules(), 1);
  EXPECT_EQ(machine.CountCalls("CreateFileA"), 0);
}

// Asked for ASPI, the engine falls back to the letters when the manager misses drives, but not
// on the 9x family nor without the process heap.
TEST_F(Discovery, FallbackToTheLettersWhenTheManagerMissesDrives) {
  struct Case {
    const char* name;
    uint32_t platformId;
    bool heap, haInquiryFails;
    int aspiDrives;
    bool fallsBack;
  } const cases[] = {
      {"manager sees no drive", 2, true, false, 0, true},
      {"adapter inquiry fails", 2, true, true, 1, true},
      {"manager sees fewer drives", 2, true, false, 1, true},
      {"9x family", 1, true, false, 1, false},
      {"no process heap", 2, false, false, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine local;
    local.platformId = c.platformId;
    local.heapUnavailable = !c.heap;
    local.aspi.present = true;
    local.aspi.haInquiryFails = c.haInquiryFails;
    for (int i = 0; i < c.aspiDrives; ++i) local.AddAspiDrive(0, uint8_t(i));
    local.AddLetterDrive('D', 1);
    local.AddLetterDrive('E', 2);
    g_transportRequest = kTransportRequestAspi;
    AtapiDevice engine;
    EXPECT_EQ(engine.UseAspi(), !c.fallsBack);
    ASSERT_EQ(engine.DeviceCount(), c.fallsBack ? 2 : 1);
    for (unsigned i = 0; i < engine.DeviceCount(); ++i) {
      EXPECT_EQ(engine.GetEntry(i)->viaAspi, c.fallsBack ? 0 : 1);
    }
    if (c.fallsBack) {
      EXPECT_EQ(local.loadedModules(), 0);
      EXPECT_STREQ(engine.GetEntry(0)->rootPath, "D:\\");
    }
  }
}

TEST_F(Discovery, AddressOrder) {
  using enum sim::AddressQuery;
  struct Drive {
    char letter;
    sim::AddressQuery query;
    uint8_t port, pathId, target, lun;
  };
  using Drives = std::vector<Drive>;
  using AdapterList = std::vector<int>;
  struct Case {
    const char* name;
    Drives drives;
    std::string order;  // drive letters in list order
    AdapterList adapters;
  } const cases[] = {
      {"adapter outweighs target", Drives{{'D', Answer, 1, 0, 0, 0}, {'E', Answer, 0, 0, 1, 0}},
       "ED", AdapterList{0, 1}},
      {"path, target, lun",
       Drives{{'D', Answer, 0, 1, 0, 0},
              {'E', Answer, 0, 0, 15, 0},
              {'F', Answer, 0, 0, 1, 1},
              {'G', Answer, 0, 0, 1, 0}},
       "GFED", AdapterList{0, 0, 0, 0}},
      {"equal keys keep the system's order",
       Drives{{'E', Answer, 1, 0, 0, 0}, {'D', Answer, 1, 0, 0, 0}}, "ED", AdapterList{1, 1}},
      {"substitute adapters 2, 3",
       Drives{{'D', Fail, 9, 9, 9, 9},
              {'E', Answer, 4, 0, 0, 0},
              {'F', Fail, 9, 9, 9, 9},
              {'G', Answer, 1, 0, 0, 0}},
       "GDFE", AdapterList{1, 2, 3, 4}},
      {"zero-length address is not listed",
       Drives{{'D', ZeroLength, 0, 0, 0, 0}, {'E', Answer, 1, 0, 0, 0}}, "E", AdapterList{1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine local;
    for (const Drive& d : c.drives) {
      local.AddLetterDrive(d.letter, d.port, d.target, d.lun, d.pathId);
      local.letters.back().addressQuery = d.query;
    }
    AtapiDevice engine;
    std::vector<std::string> order, expected;
    for (unsigned i = 0; i < engine.DeviceCount(); ++i)
      order.push_back(engine.GetEntry(i)->rootPath);
    for (char letter : c.order) expected.push_back(std::string{letter, ':', '\\'});
    EXPECT_EQ(order, expected);
    EXPECT_EQ(Adapters(engine), c.adapters);
    for (unsigned i = 0; i < engine.DeviceCount(); ++i) {
      if (engine.GetEntry(i)->adapter >= 2) {
        EXPECT_EQ(engine.GetEntry(i)->target, 0);
        EXPECT_EQ(engine.GetEntry(i)->lun, 0);
        EXPECT_EQ(engine.GetEntry(i)->path, 0);
      }
    }
  }
}

TEST_F(Discovery, AspiAddressesAndAdapterInquiryFailure) {
  machine.AddAspiDrive(1, 0);
  machine.AddAspiDrive(0, 3, 1);
  machine.AddAspiDrive(0, 3, 0);
  machine.AddAspiDrive(2, 0);
  machine.aspi.devices.push_back({0, 5, 0, 0 /* a disk */, nullptr});
  machine.aspi.haInquiryFailsFromAdapter = 2;
  g_transportRequest = kTransportRequestAspi;
  AtapiDevice engine;
  ASSERT_EQ(engine.DeviceCount(), 3);  // adapter 2 is never visited
  EXPECT_EQ(engine.GetEntry(0)->target, 3);
  EXPECT_EQ(engine.GetEntry(0)->lun, 0);
  EXPECT_EQ(engine.GetEntry(1)->lun, 1);
  EXPECT_EQ(engine.GetEntry(2)->adapter, 1);
  // Every adapter is rescanned before any is searched.
  int rescans = 0;
  for (const sim::Call& call : machine.Calls()) {
    if (call.args.rfind("RESCAN", 0) == 0) ++rescans;
    if (call.args.rfind("GET_DEV_TYPE", 0) == 0) {
      EXPECT_EQ(rescans, 3);
      break;
    }
  }
}

TEST_F(Discovery, UnopenableLetterLeavesNoGap) {
  machine.AddLetterDrive('D', 1);
  machine.letters.back().openable = false;
  machine.AddLetterDrive('E', 2);
  AtapiDevice engine;
  ASSERT_EQ(engine.DeviceCount(), 1);
  EXPECT_STREQ(engine.GetEntry(0)->rootPath, "E:\\");
  EXPECT_EQ(engine.IsPresent(1), 0);
  int opensOfD = 0;  // the address query's and the descriptor query's
  for (const sim::Call& call : machine.Calls()) {
    opensOfD += call.name == "CreateFileA" && call.args.rfind("\\\\.\\D:", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(opensOfD, 2);
}

TEST_F(Discovery, TenInquiryAttemptsThenOneFlashIdentityReadPerDrive) {
  auto silent = machine.AddLetterDrive('D', 1);
  silent->senseFaults.push_back({{0x12, 0, -1}, 4, 0x44, 0});
  auto answering = machine.AddLetterDrive('E', 2);
  answering->senseFaults.push_back({{0x12, 0, 9}, 4, 0x44, 0});  // answers on the tenth
  AtapiDevice engine;
  ASSERT_EQ(engine.DeviceCount(), 2);
  for (const auto& d : {silent, answering}) {
    int inquiries = 0, flashReads = 0, lastInquiry = -1, flashAt = -1;
    for (size_t i = 0; i < d->log.size(); ++i) {
      if (d->log[i].cdb[0] == 0x12) ++inquiries, lastInquiry = int(i);
      if (d->log[i].cdb[0] == 0xDF) ++flashReads, flashAt = int(i);
    }
    EXPECT_EQ(inquiries, 10);
    EXPECT_EQ(flashReads, 1);
    EXPECT_LT(lastInquiry, flashAt);
  }
  EXPECT_STREQ(engine.GetEntry(0)->vendor, "");
  EXPECT_EQ(engine.GetEntry(0)->identText[0], '\0');
  EXPECT_EQ(engine.GetEntry(0)->flashId[0], 0xBF);
  EXPECT_STREQ(engine.GetEntry(1)->vendor, "TARN-EX ");

  answering->senseFaults.clear();
  std::memset(answering->flashId, 0, sizeof answering->flashId);
  engine.ScanDrives();
  EXPECT_EQ(engine.GetEntry(1)->flashId[0], 0);  // a failed identity read leaves zero
}

// E: refuses the flash identity, so without a fresh buffer its INQUIRY would still be there
// when F: answers INQUIRY with 5 bytes; F: must not be listed under E:'s name.
TEST_F(Discovery, NoDriveWearsAnotherDrivesIdentity) {
  auto e = machine.AddLetterDrive('E', 1);
  e->senseFaults.push_back({{0xDF, 0, -1}, 5, 0x20, 0});
  auto f = machine.AddLetterDrive('F', 2);
  f->identity = {"ACME    ", "OTHER DRIVE     ", "1.00", ""};
  std::memset(f->flashId, 0, sizeof f->flashId);
  sim::SimDrive::ShortFault cut;
  cut.opcode = 0x12;
  cut.count = -1;
  cut.bytes = 5;
  f->shortFaults.push_back(cut);
  AtapiDevice engine;
  ASSERT_EQ(engine.DeviceCount(), 2);
  EXPECT_STREQ(engine.GetEntry(0)->vendor, "TARN-EX ");
  const DeviceEntry* other = engine.GetEntry(1);
  EXPECT_EQ(other->identText[0], '\0');
  EXPECT_STREQ(other->vendor, "");
  EXPECT_STREQ(other->revision, "");
  EXPECT_EQ(other->flashId[0], 0);
}

TEST_F(Discovery, DriveWhoseUnitAttentionNeverClearsIsNotSpokenTo) {
  drive = machine.AddLetterDrive('E', 1);
  drive->senseFaults.push_back({{0x00, 0, 1000}, 6, 0x29, 0});
  AtapiDevice engine;
  ASSERT_EQ(engine.DeviceCount(), 1);
  EXPECT_EQ(engine.GetEntry(0)->identText[0], '\0');
  EXPECT_EQ(engine.GetEntry(0)->flashId[0], 0);
  EXPECT_EQ(Received(0x12) + Received(0xDF), 0);
}

TEST_F(Discovery, ListKeepsTheFirstSixteenDrives) {
  struct Case {
    const char* name;
    bool aspi, letters;
  } const cases[] = {
      {"drive letters", false, true},
      {"ASPI", true, false},
      {"ASPI, as full as the letters", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine local;
    for (int i = 0; i < 20; ++i) {
      if (c.aspi) local.AddAspiDrive(uint8_t(i / 8), uint8_t(i % 8));
      if (c.letters) local.AddLetterDrive(char('D' + i), 1, uint8_t(i));
    }
    g_transportRequest = c.aspi ? kTransportRequestAspi : 0;
    AtapiDevice engine;
    ASSERT_EQ(engine.DeviceCount(), 16);
    EXPECT_EQ(engine.GetEntry(15)->target, c.aspi ? 7 : 15);
    EXPECT_EQ(engine.GetEntry(15)->adapter, 1);
    EXPECT_EQ(engine.UseAspi(), c.aspi);
    EXPECT_EQ(engine.GetEntry(16), nullptr);
  }
}

TEST_F(Discovery, NothingFound) {
  struct Case {
    const char* name;
    bool listFails, heapFails;
  } const cases[] = {{"no letter list", true, false}, {"no heap", false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimMachine local;
    local.AddLetterDrive('E', 1);
    local.letterListFails = c.listFails;
    local.heapUnavailable = c.heapFails;
    AtapiDevice engine;
    EXPECT_EQ(engine.DeviceCount(), 0);
    EXPECT_EQ(engine.GetEntry(0), nullptr);
  }
}

// ---------------------------------------------------------------------------------------------
// Addressing

TEST_F(Discovery, SelectAndCloseIndexes) {
  machine.AddLetterDrive('D', 1, 4);
  machine.AddLetterDrive('E', 2, 5);
  AtapiDevice engine;
  ASSERT_EQ(engine.DeviceCount(), 2);
  EXPECT_EQ(engine.CurrentIndex(), 127);
  EXPECT_EQ(engine.CurrentAdapter(), -1);

  EXPECT_TRUE(engine.SelectDevice(1));
  EXPECT_EQ(engine.CurrentIndex(), 1);
  EXPECT_EQ(engine.CurrentAdapter(), 2);
  EXPECT_EQ(engine.CurrentTarget(), 5);
  EXPECT_STREQ(engine.CurrentRevision(), "KM01");
  EXPECT_EQ(machine.openHandles(), 1);
  int const opens = machine.CountCalls("CreateFileA");
  EXPECT_TRUE(engine.SelectDevice(1));  // already addressed: nothing reopened
  EXPECT_EQ(machine.CountCalls("CreateFileA"), opens);

  EXPECT_TRUE(engine.SelectDevice(0));  // switching closes the other drive
  EXPECT_EQ(machine.openHandles(), 1);
  EXPECT_FALSE(engine.SelectDevice(2));  // not present
  EXPECT_FALSE(engine.SelectDevice(16));
  EXPECT_FALSE(engine.SelectDevice(-5));
  EXPECT_EQ(engine.CurrentIndex(), 0);

  engine.CloseDevice();
  EXPECT_EQ(engine.CurrentIndex(), 127);
  EXPECT_EQ(engine.CurrentAdapter(), -1);
  EXPECT_EQ(engine.CurrentPath(), -1);
  EXPECT_EQ(engine.DriveHandle(), kInvalidHandle);
  EXPECT_EQ(machine.openHandles(), 0);
  EXPECT_FALSE(engine.SelectDevice(127));  // the marker is no slot

  machine.letters[0].openable = false;
  EXPECT_FALSE(engine.SelectDevice(0));
  EXPECT_EQ(engine.CurrentIndex(), -1);
  EXPECT_EQ(engine.CurrentAdapter(), -1);
  EXPECT_EQ(engine.CurrentTarget(), -1);
  EXPECT_EQ(engine.CurrentLun(), -1);
  EXPECT_EQ(engine.DriveHandle(), kInvalidHandle);
  EXPECT_FALSE(engine.SelectDevice(-1));
}

TEST_F(Discovery, SelectOnAspiOpensNothing) {
  machine.AddAspiDrive(0, 2);
  g_transportRequest = kTransportRequestAspi;
  AtapiDevice engine;
  machine.ClearCalls();
  EXPECT_TRUE(engine.SelectDevice(0));
  EXPECT_EQ(machine.CountCalls("CreateFileA"), 0);
  EXPECT_EQ(engine.CurrentTarget(), 2);
  EXPECT_EQ(engine.DriveHandle(), kInvalidHandle);
}

TEST_F(Discovery, CopyIntoLeavesTheTargetUnaddressed) {
  machine.AddLetterDrive('D', 1);
  auto e = machine.AddLetterDrive('E', 2);
  AtapiDevice list;
  list.SetTimeout(77);
  list.SetRetry(true);
  ASSERT_TRUE(list.SelectDevice(1));

  AtapiDevice job(false);
  EXPECT_EQ(job.DeviceCount(), 0);
  list.CopyInto(&job);
  list.CopyInto(nullptr);
  EXPECT_EQ(job.DeviceCount(), 2);
  EXPECT_EQ(job.CurrentIndex(), 127);
  EXPECT_EQ(job.DriveHandle(), kInvalidHandle);
  EXPECT_EQ(job.TimeoutSeconds(), 77u);
  EXPECT_TRUE(job.RetryFlag());
  EXPECT_EQ(job.CurrentAdapter(), 2);  // the address is copied, the addressing is not
  EXPECT_STREQ(job.GetEntry(1)->rootPath, "E:\\");
  EXPECT_EQ(machine.openHandles(), 1);  // only the list engine's

  ASSERT_TRUE(job.SelectDevice(1));
  e->ResetRecord();
  e->discPresent = true;
  EXPECT_TRUE(job.TestUnitReady());
  EXPECT_EQ(e->log.size(), 1u);
}

TEST_F(Discovery, ReadIdentityRefreshesTheAddressedEntry) {
  auto e = machine.AddLetterDrive('E', 1);
  AtapiDevice engine;
  EXPECT_FALSE(engine.ReadIdentity());  // nothing addressed
  ASSERT_TRUE(engine.SelectDevice(0));
  e->identity.revision = "KM0P";
  std::memset(e->flashId, 0x11, 4);
  EXPECT_TRUE(engine.ReadIdentity());
  EXPECT_STREQ(engine.GetEntry(0)->revision, "KM0P");
  EXPECT_EQ(engine.GetEntry(0)->flashId[0], 0xBF);  // untouched

  e->ResetRecord();
  e->identity.revision = "ZZZZ";
  e->senseFaults.push_back({{0x12, 0, -1}, 4, 0x44, 0});
  EXPECT_FALSE(engine.ReadIdentity());
  EXPECT_EQ(e->log.size(), 10u);
  EXPECT_STREQ(engine.GetEntry(0)->revision, "KM0P");
}

TEST_F(Discovery, RescanWhileAddressingReadsEachSlotsOwnDrive) {
  machine.AddLetterDrive('D', 1);
  machine.AddLetterDrive('E', 2)->identity.revision = "KM05";
  AtapiDevice engine;
  ASSERT_TRUE(engine.SelectDevice(0));
  ASSERT_STREQ(engine.GetEntry(0)->rootPath, "D:\\");
  machine.letters[0].port = 3;  // D: now sorts after E:
  engine.ScanDrives();
  EXPECT_STREQ(engine.GetEntry(0)->rootPath, "E:\\");
  EXPECT_STREQ(engine.GetEntry(0)->revision, "KM05");
  EXPECT_STREQ(engine.GetEntry(1)->revision, "KM01");
  EXPECT_EQ(engine.CurrentIndex(), AtapiDevice::kNotAddressed);
  EXPECT_EQ(machine.openHandles(), 0);
}

TEST_F(Discovery, DestructionReleasesDriveAndManager) {
  machine.AddLetterDrive('E', 1);
  machine.aspi.present = true;
  {
    AtapiDevice engine;
    ASSERT_TRUE(engine.SelectDevice(0));
    ASSERT_TRUE(engine.LoadAspi());
    EXPECT_EQ(machine.openHandles(), 1);
    EXPECT_EQ(machine.loadedModules(), 1);
  }
  EXPECT_EQ(machine.openHandles(), 0);
  EXPECT_EQ(machine.loadedModules(), 0);
}

// An exception that leaves the constructor mid-scan leaves no destructor to run: the engine
// itself must close the drive it was asking and unload the manager.
TEST_F(Discovery, AnExceptionMidScanReleasesDriveAndManager) {
  for (const bool aspi : {false, true}) {
    SCOPED_TRACE(aspi ? "ASPI" : "letters");
    sim::SimMachine fresh;
    fresh.AddLetterDrive('E', 1);
    fresh.aspi.present = aspi;
    g_transportRequest = aspi ? 0 : kTransportRequestAspi;
    PlatformTap tap(fresh);
    tap.beforeIoctl = [](const IoctlCall& call) -> std::optional<bool> {
      if (call.code == win::kIoctlScsiPassThroughDirect) throw std::bad_alloc();
      return std::nullopt;
    };
    EXPECT_THROW(AtapiDevice engine, std::bad_alloc);
    EXPECT_EQ(fresh.openHandles(), 0);
    EXPECT_EQ(fresh.loadedModules(), 0);
  }
}

}  // namespace
}  // namespace quorel::test
