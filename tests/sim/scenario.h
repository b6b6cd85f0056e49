// The machine that the test ASPI manager simulates, read from a scenario file:
//
//   # comment (also ;)
//   [manager]
//   status = 01            ; GetASPI32SupportInfo status byte, hex (01 usable, E1, E2, E3 ...)
//   adapters = 2           ; host adapters reported; default: highest drive adapter + 1
//
//   [drive1]               ; drives are numbered; a later section of the same number amends it
//   address = 1:0:0        ; adapter:target:lun
//   vendor = "TARN-EX "    ; INQUIRY texts, blank-padded to 8 / 16 / 4 / 16 characters
//   product = "DVDRW QVX-270T"
//   revision = KM01
//   vendor_specific = 2004/01/14
//   device_type = 5        ; peripheral device type in discovery (5 optical)
//   flash_id = BF D8 00 05 ; first bytes of the DF 11 answer, hex
//   disc = 1   tray_open = 0   tray_locked = 0
//   remove_disc_on_eject = 1      ; the user takes the disc out once the tray has opened
//   becoming_ready_polls = 3      becoming_ready_ms = 0
//   unit_attention = 1    reject_event_status = 1
//   event_status_attention = 1    ; GET EVENT STATUS NOTIFICATION reports a unit attention too
//   latency_ms = 5                ; every command really takes this long
//   vanish_after = 100            ; after this many commands the drive is gone
//   sense_fault = 3B 0 1 4 44 00  ; opcode|all skip count(-1 all) key asc ascq, hex codes,
//                                 ; then the sense format: fixed (default), descriptor or none
//   transport_fault = all 10 1    ; opcode|all skip count
//   busy_fault = DF 1 1           ; opcode|all skip count: answered BUSY (status 08h, no sense)
//   readback_fault = 5 3 100      ; block attempts position
//   reset_fault = 3C 63 1 system  ; opcode|all skip count: the drive resets after that command;
//                                 ; "system" (a media poll takes the unit attention) or
//                                 ; "program" (default: the next command sees it)
//
// Values are case-insensitive where they are keywords; double quotes keep blanks.
#pragma once

#include <map>
#include <string>

#include "sim/sim_drive.h"

namespace quorel::e2e {

struct DriveSpec {
  int adapter = 0, target = 0, lun = 0;
  int deviceType = 5;
  bool removeDiscOnEject = false;
  int latencyMs = 0;
  int vanishAfter = -1;  // commands; -1 never
  sim::SimDrive drive;   // identity, state and faults, configured
};

struct Scenario {
  int managerStatus = 0x01;
  int adapters = -1;                // -1: derived from the drives
  std::map<int, DriveSpec> drives;  // by drive number
  int AdapterCount() const;
};

// Reads scenario text into `scenario`, amending what it holds already (a later file, such as the
// saved state of an earlier run, can override single values). On a mistake returns false with
// `error` naming the line.
bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error);

// The log line of a drive that has just programmed: what it programmed (image and part block
// held at that moment, as sizes and FNV-1a hashes) and the revision it now reports.
//   PROGRAM drive=N addr=A:T:L control=XX bytes=N hash=FNV1A64 part=N:FNV1A64 revision=XXXX
std::string ProgramLine(int number, const std::string& address, const sim::SimDrive& drive);

// The state that survives from one run of the program to the next: what programming and the
// tray changed. Written in the scenario format, so ParseScenario reads it back.
std::string DriveState(int number, const DriveSpec& spec);

}  // namespace quorel::e2e
