// The simulated ASPI manager's request handling, one piece of code for both of its hosts: the
// simulated machine of the host tests and the test WNASPI32.DLL of the end-to-end runs. The
// host says where the devices are, runs their commands (with its own time, locks and records)
// and tells requesters that a request ended; the manager answers every request from that.
//
// How a command ends in the request block: GOOD is SS_COMP; CHECK CONDITION is SS_ERR with
// the target status and the sense in the drive's format; BUSY is SS_ERR with the target
// status; a transport failure is SS_ERR with a selection time-out, and so is an address where
// nobody answers (SS_NO_DEVICE). Data that moved short of the buffer length is an underrun:
// SS_ERR with HASTAT_DO_DU, never SS_COMP, since the requester cannot tell how much came.
// Data-in bytes reach the requester's buffer when the request ends, not before.
//
// Not locked: a host whose requests can stay pending serializes its calls.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/scsi_structs.h"
#include "sim/sim_drive.h"

namespace quorel::sim {

class AspiHost {
 public:
  virtual ~AspiHost() = default;
  virtual int AdapterCount() = 0;
  // SC_HA_INQUIRY for this adapter answers SS_ERR.
  virtual bool AdapterInquiryFails(int adapter) {
    (void)adapter;
    return false;
  }
  // The peripheral device type at an address; -1 when no device is there.
  virtual int DeviceType(int adapter, int target, int lun) = 0;
  // Runs one command on the drive at the request's address (data is the buffer the drive reads
  // or fills); false when no drive is there.
  virtual bool Run(const SRB_ExecSCSICmd& request, const uint8_t* cdb, int direction, uint8_t* data,
                   uint32_t lengthBytes, CommandResult& result) = 0;
  // How long a command that ran stays pending, in seconds (infinity: until aborted, or for
  // ever); negative: it ends before SendASPI32Command returns, once the host let its time pass.
  virtual double HoldSeconds(const SRB_ExecSCSICmd& request, const CommandResult& result) {
    (void)request;
    (void)result;
    return -1.0;
  }
  // The host's clock, in seconds.
  virtual double Now() { return 0.0; }
  // Tells the requester that its request ended: SRB_EVENT_NOTIFY signals the event in
  // postProc, SRB_POSTING calls the routine there.
  virtual void Post(SRB_ExecSCSICmd* request, uint8_t flags, void* postProc) = 0;
};

class AspiManager {
 public:
  explicit AspiManager(AspiHost& host) : host_(host) {}

  // SendASPI32Command: answers the request and returns its status. owner names the sender
  // (a thread), for EndDue.
  uint32_t Send(void* request, uint64_t owner = 0);

  // Ends the pending requests of owner whose time has come. A request ends only on its
  // sender's calls, so that no other thread writes into a block its requester is reading.
  void EndDue(uint64_t owner);
  // Ends every pending request that would end at all, whatever the time.
  void EndAllThatEnd();
  // Seconds until the first pending request posting to postProc ends (infinity: never);
  // negative when none is pending there.
  double SecondsUntilEnd(const void* postProc);
  // Ends that request now, as its time has come.
  void EndFirst(const void* postProc);
  // Requests still pending.
  int Pending() const { return static_cast<int>(pending_.size()); }
  // Requests sent in a block the manager still held for an earlier one: a real manager would
  // write the earlier one's end over the later one.
  int ResentWhileHeld() const { return resentWhileHeld_; }

  // SC_ABORT_SRB leaves the request pending (and answers SS_ABORT_FAIL) instead of ending it
  // SS_ABORTED.
  bool ignoreAborts = false;

 private:
  struct Held {
    SRB_ExecSCSICmd* request = nullptr;
    uint8_t flags = 0;
    void* postProc = nullptr;
    uint8_t* data = nullptr;  // where data-in bytes go when the request ends
    std::vector<uint8_t> answer;
    uint32_t answerBytes = 0;
    uint8_t status = SS_COMP, haStat = HASTAT_OK, targStat = STATUS_GOOD;
    bool sense = false;
    CommandResult result;
    double endsAt = 0.0;
    uint64_t owner = 0;
  };

  uint32_t HostAdapterInquiry(SRB_HAInquiry* request);
  uint32_t DeviceType(SRB_GDEVBlock* request);
  uint32_t Execute(SRB_ExecSCSICmd* request, uint64_t owner);
  uint32_t Abort(SRB_Abort* request);
  // Writes the end into the request block, status last, and posts it; returns the status.
  uint8_t End(const Held& held, bool aborted);
  // Takes the pending request at index out of the list and ends it.
  void EndAt(size_t index, bool aborted);

  AspiHost& host_;
  std::vector<Held> pending_;
  int resentWhileHeld_ = 0;
};

}  // namespace quorel::sim
