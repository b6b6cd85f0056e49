#include "sim/scenario.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "sim/log_text.h"

namespace quorel::e2e {
namespace {

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// Drops a trailing comment outside double quotes, the blanks around the value and the quotes;
// blanks inside quotes stay.
std::string Unquote(const std::string& raw, bool& ok) {
  std::string kept;
  bool quoted = false;
  for (char c : raw) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '#' || c == ';')) break;
    kept += c;
  }
  ok = !quoted;
  std::string out;
  for (char c : Trim(kept))
    if (c != '"') out += c;
  return out;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

bool ParseInt(const std::string& text, int base, int& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text.c_str(), &end, base);
  if (*end != '\0' || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool ParseBool(const std::string& text, bool& value) {
  std::string t = Lower(text);
  if (t == "1" || t == "yes" || t == "true") return value = true, true;
  if (t == "0" || t == "no" || t == "false") return value = false, true;
  return false;
}

bool ParseOpcode(const std::string& text, int& opcode) {
  if (Lower(text) == "all") return opcode = 0x100, true;
  return ParseInt(text, 16, opcode) && opcode >= 0 && opcode <= 0xFF;
}

bool ParseFault(const std::vector<std::string>& words, sim::Fault& fault) {
  return words.size() >= 3 && ParseOpcode(words[0], fault.opcode) &&
         ParseInt(words[1], 10, fault.skip) && ParseInt(words[2], 10, fault.count);
}

// INQUIRY text fields are blank-padded to their width.
bool Padded(const std::string& value, size_t width, std::string& field) {
  if (value.size() > width) return false;
  field = value + std::string(width - value.size(), ' ');
  return true;
}

// Applies one key of a [driveN] section; false when the key or its value is not understood.
bool SetDriveKey(DriveSpec& spec, const std::string& key, const std::string& value,
                 std::string& why) {
  sim::SimDrive& d = spec.drive;
  auto flag = [&](bool& target) {
    return ParseBool(value, target) || (why = "expected 0 or 1", false);
  };
  auto number = [&](int& target) {
    return ParseInt(value, 10, target) || (why = "expected a decimal number", false);
  };
  if (key == "address") {
    std::string parts = value;
    std::replace(parts.begin(), parts.end(), ':', ' ');
    auto w = Words(parts);
    if (w.size() != 3 || !ParseInt(w[0], 10, spec.adapter) || !ParseInt(w[1], 10, spec.target) ||
        !ParseInt(w[2], 10, spec.lun) || spec.adapter < 0 || spec.adapter > 255 ||
        spec.target < 0 || spec.target > 15 || spec.lun < 0 || spec.lun > 7) {
      why = "expected adapter:target:lun (target 0-15, lun 0-7)";
      return false;
    }
    return true;
  }
  if (key == "vendor") return Padded(value, 8, d.identity.vendor) || (why = "longer than 8", false);
  if (key == "product")
    return Padded(value, 16, d.identity.product) || (why = "longer than 16", false);
  if (key == "revision")
    return Padded(value, 4, d.identity.revision) || (why = "longer than 4", false);
  if (key == "vendor_specific")
    return Padded(value, 16, d.identity.vendorSpecific) || (why = "longer than 16", false);
  if (key == "device_type") return number(spec.deviceType);
  if (key == "flash_id") {
    auto w = Words(value);
    if (w.empty() || w.size() > sizeof d.flashId) return why = "expected 1-128 hex bytes", false;
    std::fill(std::begin(d.flashId), std::end(d.flashId), 0);
    for (size_t i = 0; i < w.size(); ++i) {
      int byte = 0;
      if (!ParseInt(w[i], 16, byte) || byte < 0 || byte > 0xFF)
        return why = "expected hex bytes", false;
      d.flashId[i] = static_cast<uint8_t>(byte);
    }
    return true;
  }
  if (key == "disc") return flag(d.discPresent);
  if (key == "tray_open") return flag(d.trayOpen);
  if (key == "tray_locked") return flag(d.trayLocked);
  if (key == "remove_disc_on_eject") return flag(spec.removeDiscOnEject);
  if (key == "unit_attention") return flag(d.unitAttention);
  if (key == "reject_event_status") return flag(d.rejectEventStatus);
  if (key == "event_status_attention") return flag(d.eventStatusReportsAttention);
  if (key == "becoming_ready_polls") return number(d.becomingReadyPolls);
  if (key == "becoming_ready_ms") {
    int ms = 0;
    if (!number(ms)) return false;
    d.becomingReadySeconds = ms / 1000.0;
    return true;
  }
  if (key == "latency_ms") return number(spec.latencyMs);
  if (key == "vanish_after") return number(spec.vanishAfter);
  if (key == "sense_fault") {
    auto w = Words(value);
    sim::SimDrive::SenseFault fault;
    int k = 0, asc = 0, ascq = 0;
    if (w.size() < 6 || w.size() > 7 || !ParseFault(w, fault) || !ParseInt(w[3], 16, k) ||
        !ParseInt(w[4], 16, asc) || !ParseInt(w[5], 16, ascq))
      return why = "expected opcode skip count key asc ascq [fixed|descriptor|none]", false;
    if (w.size() == 7) {
      std::string format = Lower(w[6]);
      if (format == "fixed")
        fault.format = sim::SenseFormat::Fixed;
      else if (format == "descriptor")
        fault.format = sim::SenseFormat::Descriptor;
      else if (format == "none")
        fault.format = sim::SenseFormat::None;
      else
        return why = "the sense format is fixed, descriptor or none", false;
    }
    fault.key = static_cast<uint8_t>(k);
    fault.asc = static_cast<uint8_t>(asc);
    fault.ascq = static_cast<uint8_t>(ascq);
    d.senseFaults.push_back(fault);
    return true;
  }
  if (key == "transport_fault" || key == "busy_fault") {
    sim::Fault fault;
    auto w = Words(value);
    if (w.size() != 3 || !ParseFault(w, fault)) return why = "expected opcode skip count", false;
    (key == "busy_fault" ? d.busyFaults : d.transportFaults).push_back(fault);
    return true;
  }
  if (key == "reset_fault") {
    sim::SimDrive::ResetFault fault;
    const auto w = Words(value);
    const std::string who = w.size() == 4 ? Lower(w[3]) : "program";
    if ((w.size() != 3 && w.size() != 4) || !ParseFault(w, fault) ||
        (who != "system" && who != "program"))
      return why = "expected opcode skip count [system|program]", false;
    fault.takenBySystem = who == "system";
    d.resetFaults.push_back(fault);
    return true;
  }
  if (key == "readback_fault") {
    auto w = Words(value);
    sim::SimDrive::ReadBackFault fault;
    if (w.size() != 3 || !ParseInt(w[0], 10, fault.block) || !ParseInt(w[1], 10, fault.attempts) ||
        !ParseInt(w[2], 10, fault.position))
      return why = "expected block attempts position", false;
    d.readBackFaults.push_back(fault);
    return true;
  }
  why = "unknown key";
  return false;
}

}  // namespace

int Scenario::AdapterCount() const {
  if (adapters >= 0) return adapters;
  int count = 0;
  for (const auto& [number, spec] : drives) count = std::max(count, spec.adapter + 1);
  return std::max(count, 1);
}

bool ParseScenario(const std::string& text, Scenario& scenario, std::string& error) {
  std::istringstream in(text);
  std::string section;
  DriveSpec* drive = nullptr;
  int lineNumber = 0;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(lineNumber) + ": " + why;
    return false;
  };
  for (std::string raw; std::getline(in, raw);) {
    ++lineNumber;
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t close = line.find(']');
      if (close == std::string::npos) return fail("unclosed section");
      section = Lower(Trim(line.substr(1, close - 1)));
      drive = nullptr;
      if (section.rfind("drive", 0) == 0 && section.size() > 5 &&
          section.find_first_not_of("0123456789", 5) == std::string::npos) {
        int number = 0;
        if (!ParseInt(section.substr(5), 10, number) || number < 1 || number > 64)
          return fail("drive sections are [drive1] ... [drive64]");
        drive = &scenario.drives[number];
      } else if (section != "manager") {
        return fail("unknown section [" + section + "]");
      }
      continue;
    }
    size_t equals = line.find('=');
    if (equals == std::string::npos) return fail("expected key = value");
    std::string key = Lower(Trim(line.substr(0, equals)));
    bool ok = true;
    std::string value = Unquote(line.substr(equals + 1), ok);
    if (!ok) return fail("unclosed quote");
    if (section == "manager") {
      if (key == "status") {
        if (!ParseInt(value, 16, scenario.managerStatus) || scenario.managerStatus < 0 ||
            scenario.managerStatus > 0xFF)
          return fail("status is one hex byte");
      } else if (key == "adapters") {
        if (!ParseInt(value, 10, scenario.adapters) || scenario.adapters < 0 ||
            scenario.adapters > 255)
          return fail("adapters is 0-255");
      } else {
        return fail("unknown key '" + key + "' in [manager]");
      }
    } else if (drive) {
      std::string why;
      if (!SetDriveKey(*drive, key, value, why)) return fail(key + ": " + why);
    } else {
      return fail("key outside a section");
    }
  }
  return true;
}

std::string DriveState(int number, const DriveSpec& spec) {
  const sim::SimDrive& d = spec.drive;
  std::ostringstream out;
  out << "[drive" << number << "]\n"
      << "revision = \"" << d.identity.revision << "\"\n"
      << "disc = " << (d.discPresent ? 1 : 0) << "\n"
      << "tray_open = " << (d.trayOpen ? 1 : 0) << "\n";
  return out.str();
}

std::string ProgramLine(int number, const std::string& address, const sim::SimDrive& drive) {
  const auto hash = [](const std::vector<uint8_t>& bytes) {
    return static_cast<unsigned long long>(sim::Fnv1a64(bytes.data(), bytes.size()));
  };
  return Format(
      "PROGRAM drive=%d addr=%s control=%02X bytes=%u hash=%016llx part=%u:%016llx "
      "revision=%s",
      number, address.c_str(), drive.lastProgramControl,
      static_cast<unsigned>(drive.programmed.size()), hash(drive.programmed),
      static_cast<unsigned>(drive.programmedPartBlock.size()), hash(drive.programmedPartBlock),
      drive.identity.revision.c_str());
}

}  // namespace quorel::e2e
