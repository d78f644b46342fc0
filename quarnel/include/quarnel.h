/* The packet-source library: opens a stored stream and hands out its content
 * one packet at a time: the 40-byte stream header (kind 0), then one packet
 * per whole group (kind 1) with its time, and a packet of kind 10 for each
 * stretch of bytes that belong to no group. A stream can be ended early
 * (QuarnelEndStream), as a program does on Ctrl-C, and tells how far it has
 * been handed out (QuarnelGetPosition), for a progress display. */
#ifndef QUARNEL_H_
#define QUARNEL_H_

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QUARNEL_CALL __stdcall
#else
#define QUARNEL_CALL
#endif

#if defined(_WIN32)
#if defined(QUARNEL_BUILDING_LIBRARY)
#define QUARNEL_API
#else
#define QUARNEL_API __declspec(dllimport)
#endif
#elif defined(QUARNEL_BUILDING_LIBRARY)
#define QUARNEL_API __attribute__((visibility("default")))
#else
#define QUARNEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
  QUARNEL_PACKET_HEADER = 0, /* data: the 40-byte stream header */
  QUARNEL_PACKET_GROUP = 1,  /* data: one whole group; time_ms its time */
  QUARNEL_PACKET_SKIPPED = 10 /* bytes that belong to no group; nothing to read */
};

enum {
  QUARNEL_MORE = 0,      /* a packet was placed in the record; more may follow */
  QUARNEL_END = 2,       /* no packet: the stream has ended */
  QUARNEL_READ_ERROR = 3 /* the stream could not be read past this point: the
                            packet placed (kind 10, at the first byte that could
                            not be read, length 0) is the last */
};

/* The record QuarnelGetPacket fills. On 32-bit builds it is exactly 40 bytes:
 * kind at 0, data at 4, length at 8, reserved at 12, time_ms at 36.
 * A skipped packet (kind 10) has no data: data is null and length 0; its
 * extent is in reserved. */
typedef struct PacketRecord {
  uint32_t kind;
  const uint8_t* data; /* owned by the packet source; valid until the next call */
  uint32_t length;     /* bytes at data */
  uint8_t reserved[24]; /* see QUARNEL_RESERVED_*; the rest is zero */
  uint32_t time_ms;
} PacketRecord;

/* Where the packet lies in the file, as little-endian 64-bit values in
 * reserved: its first byte's offset, and its length in the file (for a
 * skipped region this may exceed what length can hold). */
enum {
  QUARNEL_RESERVED_OFFSET = 0,
  QUARNEL_RESERVED_SIZE = 8
};

/* `source` is a pointer to a zero-terminated path of a stored stream. Returns
 * non-zero when it is open, 0 when it is missing, unreadable or shorter than
 * 40 bytes, or being written (a writer has it). `channel` must be 1. Opening
 * again replaces the open stream. While open, the stream is held so that no
 * writer can take it (a shared lock; on Windows, write sharing denied): a
 * writer that tries fails with a sharing violation and leaves it whole. It
 * stays open until its end is reached or another stream is opened. */
QUARNEL_API int32_t QUARNEL_CALL QuarnelOpenFile(int32_t channel, intptr_t source);

/* Places the next packet in *record. Returns QUARNEL_MORE (0) with a packet,
 * QUARNEL_END (2) without one when the stream has ended, QUARNEL_READ_ERROR
 * (3) with a last packet when reading the stream failed part way (a read
 * error, or no memory to go on). */
QUARNEL_API int32_t QUARNEL_CALL QuarnelGetPacket(int32_t channel, PacketRecord* record);

/* Ends the stream open on `channel` early, as if it ended there: the next
 * QuarnelGetPacket returns QUARNEL_END without a packet (the one being
 * placed, if a call is running, is handed out whole) and the stream is
 * closed, its lock given back. Safe at any moment: from another thread while
 * QuarnelGetPacket runs, or from a signal handler (it only marks the
 * channel, without waiting or allocating). QuarnelOpenFile clears the mark:
 * a stream opened later is not ended by it. Returns 1, or 0 for a channel
 * other than 1. */
QUARNEL_API int32_t QUARNEL_CALL QuarnelEndStream(int32_t channel);

/* How far the stream opened last on `channel` has been handed out: in
 * *bytes, the end of the last packet placed, in bytes of the file (40 after
 * the header, 0 before it; after a read error, the first byte that could not
 * be read). Safe from another thread while QuarnelGetPacket runs. Returns 1,
 * or 0 (leaving *bytes alone) for a channel other than 1 or a null bytes. */
QUARNEL_API int32_t QUARNEL_CALL QuarnelGetPosition(int32_t channel, uint64_t* bytes);

#ifdef __cplusplus
}
#endif

#endif /* QUARNEL_H_ */
