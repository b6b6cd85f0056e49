// The TCMU command ring, walked in C: the kernel's UAPI header (linux/target_core_user.h) does
// not compile as C++ (an enum from an integer, and its own struct iovec beside the C library's),
// so this file alone includes it and hands each command over in plain types.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { QUOREL_RING_SENSE_BYTES = 96 };

// A piece of a command's data, inside the mapping.
struct quorel_ring_piece {
  uint8_t* address;
  size_t bytes;
};

struct quorel_ring_response {
  uint8_t status;      // SCSI status byte
  int64_t read_bytes;  // bytes of a data-in answer, when fewer than asked; -1 otherwise
  uint8_t sense[QUOREL_RING_SENSE_BYTES];
};

// Executes one command: cdb as queued (its length follows from its operation code), the data in
// `count` pieces; fills `response`, which starts as GOOD with all bytes moved.
typedef void (*quorel_ring_handler)(void* context, const uint8_t* cdb,
                                    const struct quorel_ring_piece* pieces, size_t count,
                                    struct quorel_ring_response* response);

// 0 when `map` (the start of the UIO mapping) holds a mailbox of the version this code knows.
int quorel_ring_check(const void* map);

// Executes every command between the ring's tail and head in order, completing each; returns
// how many entries were consumed (the kernel is to be told when this is not zero).
size_t quorel_ring_serve(void* map, quorel_ring_handler handler, void* context);

#ifdef __cplusplus
}
#endif
