#include "sim/aspi_manager.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace quorel::sim {
namespace {

constexpr uint32_t kLongestScratchBytes = 16u << 20;
constexpr double kClockSlackSeconds = 1e-6;  // the clock's rounding

}  // namespace

uint32_t AspiManager::Send(void* request, uint64_t owner) {
  auto* header = static_cast<SRB_Header*>(request);
  if (header == nullptr) return SS_INVALID_CMD;
  switch (header->SRB_Cmd) {
    case SC_HA_INQUIRY:
      return HostAdapterInquiry(static_cast<SRB_HAInquiry*>(request));
    case SC_GET_DEV_TYPE:
      return DeviceType(static_cast<SRB_GDEVBlock*>(request));
    case SC_EXEC_SCSI_CMD:
      return Execute(static_cast<SRB_ExecSCSICmd*>(request), owner);
    case SC_ABORT_SRB:
      return Abort(static_cast<SRB_Abort*>(request));
    case SC_RESCAN_SCSI_BUS:
      header->SRB_Status = header->SRB_HaId < host_.AdapterCount() ? SS_COMP : SS_INVALID_HA;
      return header->SRB_Status;
    default:
      header->SRB_Status = SS_INVALID_CMD;
      return header->SRB_Status;
  }
}

// Adapter 0 answers even when there is none, with a count of 0.
uint32_t AspiManager::HostAdapterInquiry(SRB_HAInquiry* request) {
  int const adapters = std::max(host_.AdapterCount(), 0);
  if (host_.AdapterInquiryFails(request->SRB_HaId)) {
    request->SRB_Status = SS_ERR;
  } else if (request->SRB_HaId >= adapters && !(request->SRB_HaId == 0 && adapters == 0)) {
    request->SRB_Status = SS_INVALID_HA;
  } else {
    request->HA_Count = static_cast<uint8_t>(std::min(adapters, 255));
    request->HA_SCSI_ID = 7;
    std::memcpy(request->HA_ManagerId, "ASPI for WIN32  ", 16);
    std::memcpy(request->HA_Identifier, "SIM HOST ADAPTER", 16);
    std::memset(request->HA_Unique, 0, sizeof request->HA_Unique);
    request->HA_Unique[3] = 16;  // targets per adapter
    request->SRB_Status = SS_COMP;
  }
  return request->SRB_Status;
}

uint32_t AspiManager::DeviceType(SRB_GDEVBlock* request) {
  if (request->SRB_HaId >= host_.AdapterCount()) {
    request->SRB_Status = SS_INVALID_HA;
    return request->SRB_Status;
  }
  int const type = host_.DeviceType(request->SRB_HaId, request->SRB_Target, request->SRB_Lun);
  if (type < 0) {
    request->SRB_Status = SS_NO_DEVICE;
  } else {
    request->SRB_DeviceType = static_cast<uint8_t>(type);
    request->SRB_Status = SS_COMP;
  }
  return request->SRB_Status;
}

uint32_t AspiManager::Execute(SRB_ExecSCSICmd* request, uint64_t owner) {
  for (const Held& held : pending_) resentWhileHeld_ += held.request == request ? 1 : 0;
  Held held;
  held.request = request;
  held.flags = request->SRB_Flags;
  held.postProc = request->SRB_PostProc;
  held.owner = owner;

  uint8_t cdb[16] = {};
  std::memcpy(cdb, request->CDBByte, std::min<size_t>(request->SRB_CDBLen, sizeof cdb));
  uint8_t const directionFlags = request->SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
  int const direction = directionFlags == SRB_DIR_OUT ? 0 : directionFlags == SRB_DIR_IN ? 1 : 2;
  uint32_t length = request->SRB_BufLen;
  uint8_t* data = request->SRB_BufPointer;
  if (direction != 2 && length > 0 && (direction == 1 || data == nullptr)) {
    // Data in gathers in the manager until the request ends; a data command without a buffer
    // still moves its bytes, into nowhere.
    held.data = direction == 1 ? data : nullptr;
    held.answer.assign(std::min(length, kLongestScratchBytes), 0);
    length = static_cast<uint32_t>(held.answer.size());
    data = held.answer.data();
  }
  std::memset(request->SenseArea, 0, sizeof request->SenseArea);
  request->SRB_HaStat = HASTAT_OK;
  request->SRB_TargStat = STATUS_GOOD;

  CommandResult& result = held.result;
  if (!host_.Run(*request, cdb, direction, data, length, result)) {
    held.status = SS_NO_DEVICE;
    held.haStat = HASTAT_SEL_TO;
  } else {
    held.status = SS_ERR;
    switch (result.status) {
      case Status::Good:
        held.status = SS_COMP;
        if (request->SRB_BufPointer != nullptr && result.transferred < request->SRB_BufLen) {
          held.status = SS_ERR;
          held.haStat = HASTAT_DO_DU;
        }
        break;
      case Status::CheckCondition:
        held.targStat = STATUS_CHKCOND;
        held.sense = true;
        break;
      case Status::Busy:
        held.targStat = STATUS_BUSY;
        break;
      case Status::Other:
        held.targStat = result.otherStatus;
        held.status = result.otherStatus == STATUS_GOOD ? SS_COMP : SS_ERR;
        held.sense = (result.otherStatus & 0xFE) == STATUS_CHKCOND;
        break;
      case Status::TransportFailure:
        held.haStat = HASTAT_SEL_TO;
        break;
    }
  }
  if (held.data != nullptr) held.answerBytes = std::min(result.transferred, length);

  double const holdSeconds = host_.HoldSeconds(*request, result);
  if (holdSeconds < 0.0) return End(held, false);
  held.endsAt = host_.Now() + holdSeconds;
  request->SRB_Status = SS_PENDING;
  pending_.push_back(std::move(held));
  return SS_PENDING;
}

uint32_t AspiManager::Abort(SRB_Abort* request) {
  for (size_t i = 0; i < pending_.size(); ++i) {
    if (pending_[i].request != request->SRB_ToAbort) continue;
    if (ignoreAborts) break;
    request->SRB_Status = SS_COMP;
    EndAt(i, true);
    return SS_COMP;
  }
  request->SRB_Status = SS_ABORT_FAIL;
  return request->SRB_Status;
}

uint8_t AspiManager::End(const Held& held, bool aborted) {
  SRB_ExecSCSICmd* request = held.request;
  uint8_t status = SS_ABORTED;
  if (!aborted) {
    status = held.status;
    if (held.data != nullptr) std::memcpy(held.data, held.answer.data(), held.answerBytes);
    request->SRB_HaStat = held.haStat;
    request->SRB_TargStat = held.targStat;
    if (held.sense) {
      const CommandResult& result = held.result;
      WriteSense(request->SenseArea,
                 std::min<size_t>(request->SRB_SenseLen, sizeof request->SenseArea),
                 result.senseKey, result.asc, result.ascq, result.senseFormat);
    }
  }
  request->SRB_Status = status;  // last: a requester that polls sees the rest first
  host_.Post(request, held.flags, held.postProc);
  return status;
}

void AspiManager::EndAt(size_t index, bool aborted) {
  Held const held = std::move(pending_[index]);
  pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(index));
  End(held, aborted);
}

void AspiManager::EndDue(uint64_t owner) {
  double const now = host_.Now();
  for (size_t i = 0; i < pending_.size();) {
    if (pending_[i].owner == owner && pending_[i].endsAt <= now + kClockSlackSeconds) {
      EndAt(i, false);
    } else {
      ++i;
    }
  }
}

void AspiManager::EndAllThatEnd() {
  std::stable_sort(pending_.begin(), pending_.end(),
                   [](const Held& a, const Held& b) { return a.endsAt < b.endsAt; });
  while (!pending_.empty() && pending_.front().endsAt < std::numeric_limits<double>::infinity())
    EndAt(0, false);
}

double AspiManager::SecondsUntilEnd(const void* postProc) {
  double soonest = -1.0;
  for (const Held& held : pending_) {
    if (held.postProc != postProc) continue;
    double const left = std::max(held.endsAt - host_.Now(), 0.0);
    if (soonest < 0.0 || left < soonest) soonest = left;
  }
  return soonest;
}

void AspiManager::EndFirst(const void* postProc) {
  size_t first = pending_.size();
  for (size_t i = 0; i < pending_.size(); ++i) {
    if (pending_[i].postProc != postProc) continue;
    if (first == pending_.size() || pending_[i].endsAt < pending_[first].endsAt) first = i;
  }
  if (first < pending_.size()) EndAt(first, false);
}

}  // namespace quorel::sim
