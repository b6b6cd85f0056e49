// The test ASPI manager: scenario parsing, and the DLL answering requests as the program's
// transport and discovery expect.
#include <windows.h>
// windows.h first: the others build on its types.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/scsi_structs.h"
#include "sim/scenario.h"

namespace quorel::e2e {
namespace {

// ---- Parsing ----

TEST(Scenario, ReadsDrivesAndManager) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenario(R"(
# two drives
[manager]
status = E1
[drive2]
address = 0:3:1
vendor = "ACME"        ; padded
product = CD-RW 52X
revision = 1.00
flash_id = 01 37 00 06
disc = yes
remove_disc_on_eject = 1
latency_ms = 7
vanish_after = 12
sense_fault = 3b 1 2 4 44 00
sense_fault = 3B 65 1 4 44 00 Descriptor
transport_fault = all 0 -1
readback_fault = 5 3 100
[drive1]
address = 1:0:0
)",
                            s, error))
      << error;
  EXPECT_EQ(s.managerStatus, 0xE1);
  EXPECT_EQ(s.AdapterCount(), 2);  // drive 1 sits on adapter 1
  ASSERT_EQ(s.drives.size(), 2u);
  const DriveSpec& d = s.drives.at(2);
  EXPECT_EQ(d.adapter, 0);
  EXPECT_EQ(d.target, 3);
  EXPECT_EQ(d.lun, 1);
  EXPECT_EQ(d.drive.identity.vendor, "ACME    ");
  EXPECT_EQ(d.drive.identity.product, "CD-RW 52X       ");
  EXPECT_EQ(d.drive.flashId[0], 0x01);
  EXPECT_EQ(d.drive.flashId[3], 0x06);
  EXPECT_TRUE(d.drive.discPresent);
  EXPECT_TRUE(d.removeDiscOnEject);
  EXPECT_EQ(d.latencyMs, 7);
  EXPECT_EQ(d.vanishAfter, 12);
  ASSERT_EQ(d.drive.senseFaults.size(), 2u);
  EXPECT_EQ(d.drive.senseFaults[0].opcode, 0x3B);
  EXPECT_EQ(d.drive.senseFaults[0].skip, 1);
  EXPECT_EQ(d.drive.senseFaults[0].count, 2);
  EXPECT_EQ(d.drive.senseFaults[0].asc, 0x44);
  EXPECT_EQ(d.drive.senseFaults[0].format, quorel::sim::SenseFormat::Fixed);
  EXPECT_EQ(d.drive.senseFaults[1].skip, 65);
  EXPECT_EQ(d.drive.senseFaults[1].format, quorel::sim::SenseFormat::Descriptor);
  ASSERT_EQ(d.drive.transportFaults.size(), 1u);
  EXPECT_EQ(d.drive.transportFaults[0].opcode, 0x100);
  EXPECT_EQ(d.drive.transportFaults[0].count, -1);
  ASSERT_EQ(d.drive.readBackFaults.size(), 1u);
  EXPECT_EQ(d.drive.readBackFaults[0].attempts, 3);
}

TEST(Scenario, RejectsMistakesNamingTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"[drive1]\nspeed = 4\n", "line 2: speed: unknown key"},
      {"[drive1]\naddress = 1:16:0\n", "line 2: address: expected adapter:target:lun"},
      {"[drive1]\nvendor = \"TOO LONG VENDOR\"\n", "line 2: vendor: longer than 8"},
      {"[drive1]\nproduct = \"open\n", "line 2: unclosed quote"},
      {"[drive1]\ndisc = maybe\n", "line 2: disc: expected 0 or 1"},
      {"[drive1]\nflash_id = BF ZZ\n", "line 2: flash_id: expected hex bytes"},
      {"[drive1]\nsense_fault = 3B 0 1\n", "line 2: sense_fault: expected opcode"},
      {"[drive1]\nsense_fault = 3B 0 1 4 44 00 long\n", "line 2: sense_fault: the sense format"},
      {"status = 01\n", "line 1: key outside a section"},
      {"[drives]\n", "line 1: unknown section [drives]"},
      {"[drive0]\n", "line 1: drive sections are"},
      {"[drive1x]\n", "line 1: unknown section [drive1x]"},
      {"[manager]\nstatus = 100\n", "line 2: status is one hex byte"},
      {"[drive1]\nlatency_ms = 99999999999\n", "line 2: latency_ms: expected a decimal number"},
      {"\n\n[manager]\nmood = good\n", "line 4: unknown key 'mood' in [manager]"},
  };
  for (const auto& c : cases) {
    Scenario s;
    std::string error;
    EXPECT_FALSE(ParseScenario(c.text, s, error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " gave: " << error;
  }
}

TEST(Scenario, SavedStateAmendsOnlyWhatItNames) {
  Scenario s;
  std::string error;
  ASSERT_TRUE(ParseScenario("[drive1]\naddress = 1:0:0\nrevision = KM01\ndisc = 1\n", s, error));
  s.drives.at(1).drive.identity.revision = "KM0P";
  s.drives.at(1).drive.discPresent = false;
  std::string state = DriveState(1, s.drives.at(1));

  Scenario next;
  ASSERT_TRUE(ParseScenario("[drive1]\naddress = 1:0:0\nrevision = KM01\ndisc = 1\n", next, error));
  ASSERT_TRUE(ParseScenario(state, next, error)) << error;
  EXPECT_EQ(next.drives.at(1).drive.identity.revision, "KM0P");
  EXPECT_FALSE(next.drives.at(1).drive.discPresent);
  EXPECT_EQ(next.drives.at(1).adapter, 1);
}

// ---- The DLL ----

std::string TempPath(const std::string& name) {
  char directory[MAX_PATH];
  GetTempPathA(MAX_PATH, directory);
  return std::string(directory) + "quorel-aspi-" + std::to_string(GetCurrentProcessId()) + "-" +
         name;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Lines(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
  return out;
}

class Manager : public ::testing::Test {
 protected:
  using SupportFn = DWORD(__cdecl*)();
  using SendFn = DWORD(__cdecl*)(void*);

  void TearDown() override {
    Unload();
    for (const auto& path :
         {scenarioPath, logPath, logPath + ".state", logPath + ".drive1.bin", dllPath})
      DeleteFileA(path.c_str());
  }

  void Load(const std::string& scenario, bool keepState = false) {
    Unload();
    scenarioPath = TempPath("scenario.ini");
    logPath = TempPath("log.txt");
    std::ofstream(scenarioPath, std::ios::binary) << scenario;
    if (!keepState) {
      DeleteFileA(logPath.c_str());
      DeleteFileA((logPath + ".state").c_str());
    }
    SetEnvironmentVariableA("QUOREL_SIM_SCENARIO", scenarioPath.c_str());
    SetEnvironmentVariableA("QUOREL_SIM_LOG", logPath.c_str());
    // Under another name: Wine would load its own wnaspi32 in place of this one.
    dllPath = TempPath("sim-aspi.dll");
    ASSERT_TRUE(CopyFileA(QUOREL_ASPI_DLL, dllPath.c_str(), FALSE)) << QUOREL_ASPI_DLL;
    module = LoadLibraryA(dllPath.c_str());
    ASSERT_NE(module, nullptr) << dllPath;
    support = reinterpret_cast<SupportFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetASPI32SupportInfo")));
    send = reinterpret_cast<SendFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "SendASPI32Command")));
    ASSERT_NE(support, nullptr);
    ASSERT_NE(send, nullptr);
  }

  void Unload() {
    if (module) FreeLibrary(module);
    module = nullptr;
  }

  // One command as the program's transport sends it: 12-byte CDB, event notification.
  SRB_ExecSCSICmd Exec(int adapter, int target, std::vector<uint8_t> cdb, int direction,
                       uint8_t* data, uint32_t length) {
    SRB_ExecSCSICmd srb = {};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = static_cast<uint8_t>(adapter);
    srb.SRB_Target = static_cast<uint8_t>(target);
    srb.SRB_Flags = (direction == 1   ? SRB_DIR_IN
                     : direction == 0 ? SRB_DIR_OUT
                                      : 0) |
                    SRB_EVENT_NOTIFY;
    srb.SRB_BufLen = length;
    srb.SRB_BufPointer = data;
    srb.SRB_SenseLen = SENSE_LEN;
    srb.SRB_CDBLen = 12;
    cdb.resize(12);
    std::memcpy(srb.CDBByte, cdb.data(), 12);
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    srb.SRB_PostProc = event;
    send(&srb);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0) << "event not signalled";
    CloseHandle(event);
    return srb;
  }

  HMODULE module = nullptr;
  SupportFn support = nullptr;
  SendFn send = nullptr;
  std::string scenarioPath, logPath, dllPath;
};

constexpr char kTwoDrives[] = R"(
[drive1]
address = 1:0:0
revision = KM01
[drive2]
address = 0:3:0
vendor = "ACME"
disc = 1
)";

TEST_F(Manager, DiscoveryFindsTheScenarioDrives) {
  Load(kTwoDrives);
  EXPECT_EQ(support(), 0x0102u);  // SS_COMP, two adapters

  SRB_HAInquiry ha = {};
  ha.SRB_Cmd = SC_HA_INQUIRY;
  send(&ha);
  EXPECT_EQ(ha.SRB_Status, SS_COMP);
  EXPECT_EQ(ha.HA_Count, 2);
  ha = {};
  ha.SRB_HaId = 2;
  send(&ha);
  EXPECT_NE(ha.SRB_Status, SS_COMP);

  int found = 0;
  for (int a = 0; a < 2; ++a)
    for (int t = 0; t < 16; ++t)
      for (int l = 0; l < 8; ++l) {
        SRB_GDEVBlock dev = {};
        dev.SRB_Cmd = SC_GET_DEV_TYPE;
        dev.SRB_HaId = static_cast<uint8_t>(a);
        dev.SRB_Target = static_cast<uint8_t>(t);
        dev.SRB_Lun = static_cast<uint8_t>(l);
        send(&dev);
        if (dev.SRB_Status == SS_COMP) {
          EXPECT_EQ(dev.SRB_DeviceType, DTYPE_CDROM);
          EXPECT_TRUE((a == 1 && t == 0 && l == 0) || (a == 0 && t == 3 && l == 0));
          ++found;
        }
      }
  EXPECT_EQ(found, 2);
}

TEST_F(Manager, CommandOutcomesReachTheRequestBlock) {
  Load(kTwoDrives);
  std::vector<uint8_t> in(96, 0);

  SRB_ExecSCSICmd inquiry = Exec(1, 0, {0x12, 0, 0, 0, 96}, 1, in.data(), 96);
  EXPECT_EQ(inquiry.SRB_Status, SS_COMP);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(in.data()) + 8, 8), "TARN-EX ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(in.data()) + 32, 4), "KM01");

  // Fewer bytes than asked for: an underrun, not a completion that passes zeros off as data.
  std::vector<uint8_t> more(255, 0);
  SRB_ExecSCSICmd shortInquiry = Exec(1, 0, {0x12, 0, 0, 0, 0xFF}, 1, more.data(), 255);
  EXPECT_EQ(shortInquiry.SRB_Status, SS_ERR);
  EXPECT_EQ(shortInquiry.SRB_HaStat, HASTAT_DO_DU);

  // No disc: CHECK CONDITION with NOT READY / MEDIUM NOT PRESENT in the sense area.
  SRB_ExecSCSICmd tur = Exec(1, 0, {0x00}, 2, nullptr, 0);
  EXPECT_EQ(tur.SRB_Status, SS_ERR);
  EXPECT_EQ(tur.SRB_TargStat, 0x02);
  EXPECT_EQ(tur.SenseArea[2] & 0x0F, 0x02);
  EXPECT_EQ(tur.SenseArea[12], 0x3A);

  // The drive with a disc is ready, and a good command leaves no sense behind.
  SRB_ExecSCSICmd ready = Exec(0, 3, {0x00}, 2, nullptr, 0);
  EXPECT_EQ(ready.SRB_Status, SS_COMP);
  EXPECT_EQ(ready.SenseArea[2], 0);

  // Nobody at 0:5: a failure without sense data.
  SRB_ExecSCSICmd nobody = Exec(0, 5, {0x00}, 2, nullptr, 0);
  EXPECT_NE(nobody.SRB_Status, SS_COMP);
  EXPECT_EQ(nobody.SRB_TargStat, 0);
  EXPECT_EQ(nobody.SenseArea[2], 0);

  auto exec = Lines(ReadAll(logPath), "EXEC ");
  ASSERT_EQ(exec.size(), 5u);
  EXPECT_NE(exec[0].find(" addr=1:0:0 drive=1 cdb=120000006000000000000000 cdblen=12 dir=in "
                         "len=96 "),
            std::string::npos)
      << exec[0];
  EXPECT_NE(exec[2].find(" status=check sense=2/3A/"), std::string::npos) << exec[2];
  EXPECT_NE(exec[4].find(" status=nodevice "), std::string::npos) << exec[4];
}

TEST_F(Manager, ProgrammedImageAndRevisionOutliveTheProcess) {
  Load(kTwoDrives);
  std::vector<uint8_t> block(16384, 0x5A);
  std::memcpy(block.data(), "QUOREL DEMO KM0P", 16);
  for (int n = 0; n < 2; ++n) {
    uint8_t offset = static_cast<uint8_t>(n * 0x40);
    SRB_ExecSCSICmd write = Exec(1, 0, {0x3B, 0x05, 0x01, 0x00, offset, 0x00, 0x00, 0x40, 0x00}, 0,
                                 block.data(), 16384);
    EXPECT_EQ(write.SRB_Status, SS_COMP);
  }
  SRB_ExecSCSICmd program = Exec(1, 0, {0x3B, 0x05, 0x01, 0, 0, 0, 0, 0, 0, 0xA0}, 2, nullptr, 0);
  EXPECT_EQ(program.SRB_Status, SS_COMP);

  std::string log = ReadAll(logPath);
  auto writes = Lines(log, "EXEC ");
  ASSERT_GE(writes.size(), 1u);
  EXPECT_NE(writes[0].find(" head=51554F52454C2044454D4F204B4D3050 "), std::string::npos)
      << writes[0];
  auto programs = Lines(log, "PROGRAM ");
  ASSERT_EQ(programs.size(), 1u);
  EXPECT_NE(programs[0].find("drive=1 addr=1:0:0 control=A0 bytes=32768 "), std::string::npos)
      << programs[0];
  EXPECT_NE(programs[0].find(" revision=KM0P"), std::string::npos);
  std::string image = ReadAll(logPath + ".drive1.bin");
  ASSERT_EQ(image.size(), 32768u);
  EXPECT_EQ(image.compare(0, 16, "QUOREL DEMO KM0P"), 0);
  EXPECT_EQ(image.compare(16384, 16, "QUOREL DEMO KM0P"), 0);

  // The next program run of the same scenario meets the drive with its new revision.
  Load(kTwoDrives, /*keepState=*/true);
  std::vector<uint8_t> in(96, 0);
  Exec(1, 0, {0x12, 0, 0, 0, 96}, 1, in.data(), 96);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(in.data()) + 32, 4), "KM0P");
}

TEST_F(Manager, ManagerStatusAndBrokenScenarios) {
  struct Case {
    const char* scenario;
    DWORD statusByte;
    bool logsError;
  };
  const Case cases[] = {
      {"[manager]\nstatus = E1\n[drive1]\naddress = 0:0:0\n", 0xE1, false},
      {"[manager]\nstatus = E2\nadapters = 0\n", 0xE2, false},
      {"[drive1]\naddress = nowhere\n", SS_NO_ASPI, true},  // a broken file: no manager at all
  };
  for (const auto& c : cases) {
    Load(c.scenario);
    EXPECT_EQ((support() >> 8) & 0xFF, c.statusByte) << c.scenario;
    EXPECT_EQ(!Lines(ReadAll(logPath), "ERROR ").empty(), c.logsError) << c.scenario;
  }
}

TEST_F(Manager, VanishedDriveFailsAndLeavesDiscovery) {
  Load("[drive1]\naddress = 0:1:0\nvanish_after = 1\n");
  EXPECT_EQ(Exec(0, 1, {0x12, 0, 0, 0, 8}, 1, std::vector<uint8_t>(8).data(), 8).SRB_Status,
            SS_COMP);
  SRB_ExecSCSICmd gone = Exec(0, 1, {0x00}, 2, nullptr, 0);
  EXPECT_EQ(gone.SRB_Status, SS_ERR);
  EXPECT_EQ(gone.SRB_TargStat, 0);
  SRB_GDEVBlock dev = {};
  dev.SRB_Cmd = SC_GET_DEV_TYPE;
  dev.SRB_Target = 1;
  send(&dev);
  EXPECT_NE(dev.SRB_Status, SS_COMP);
}

}  // namespace
}  // namespace quorel::e2e
