#include "tcmu_ring.h"

#include <linux/target_core_user.h>
#include <stddef.h>
#include <string.h>

enum { kMaxPieces = 1024 };

int quorel_ring_check(const void* map) {
  const struct tcmu_mailbox* mailbox = map;
  return mailbox->version == TCMU_MAILBOX_VERSION ? 0 : -1;
}

static void Execute(uint8_t* base, int readLength, struct tcmu_cmd_entry* entry,
                    quorel_ring_handler handler, void* context) {
  // The request and the response share the entry: take the whole request first.
  static __thread struct quorel_ring_piece pieces[kMaxPieces];
  uint32_t count = entry->req.iov_cnt;
  if (count > kMaxPieces) {
    entry->hdr.uflags |= TCMU_UFLAG_UNKNOWN_OP;
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    pieces[i].address = base + (uintptr_t)entry->req.iov[i].iov_base;
    pieces[i].bytes = entry->req.iov[i].iov_len;
  }
  const uint8_t* cdb = base + entry->req.cdb_off;
  struct quorel_ring_response response;
  memset(&response, 0, sizeof response);
  response.read_bytes = -1;
  handler(context, cdb, pieces, count, &response);

  memset(&entry->rsp, 0, sizeof entry->rsp);
  entry->rsp.scsi_status = response.status;
  memcpy(entry->rsp.sense_buffer, response.sense, sizeof entry->rsp.sense_buffer);
  if (readLength && response.read_bytes >= 0) {
    entry->hdr.uflags |= TCMU_UFLAG_READ_LEN;
    entry->rsp.read_len = (uint32_t)response.read_bytes;
  }
}

size_t quorel_ring_serve(void* map, quorel_ring_handler handler, void* context) {
  uint8_t* base = map;
  struct tcmu_mailbox* mailbox = map;
  int readLength = (mailbox->flags & TCMU_MAILBOX_FLAG_CAP_READ_LEN) != 0;
  // The mailbox is packed; its two indexes are aligned all the same.
  uint32_t* headAt = (uint32_t*)(base + offsetof(struct tcmu_mailbox, cmd_head));
  uint32_t* tailAt = (uint32_t*)(base + offsetof(struct tcmu_mailbox, cmd_tail));
  uint32_t tail = *tailAt;
  size_t consumed = 0;
  for (;;) {
    uint32_t head = __atomic_load_n(headAt, __ATOMIC_ACQUIRE);
    if (tail == head) break;
    struct tcmu_cmd_entry* entry = (struct tcmu_cmd_entry*)(base + mailbox->cmdr_off + tail);
    switch (tcmu_hdr_get_op(entry->hdr.len_op)) {
      case TCMU_OP_PAD:
      case TCMU_OP_TMR:  // task management: nothing is ever pending here
        break;
      case TCMU_OP_CMD:
        Execute(base, readLength, entry, handler, context);
        break;
      default:
        entry->hdr.uflags |= TCMU_UFLAG_UNKNOWN_OP;
        break;
    }
    tail = (tail + tcmu_hdr_get_len(entry->hdr.len_op)) % mailbox->cmdr_size;
    __atomic_store_n(tailAt, tail, __ATOMIC_RELEASE);
    ++consumed;
  }
  return consumed;
}
