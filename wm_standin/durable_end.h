// The durable end of a file the writer syncs. It ends in order: the header
// says all but that the file ended (asf::MuxerOptions::confirm_end_later), a
// sync makes the packets and the index durable, the end is confirmed and
// synced. With a sync interval the file's sync thread does that after
// EndWriting, which does not wait for the disk, and then closes the file; a
// writer that syncs as it ends (a conversion's, on request), or that has no
// memory to hand the end over, does it before EndWriting returns. The files
// whose end a thread is still making durable are held until it is done: a
// writer that finds its output held waits for them before it gives up (a
// host that records the same name again right after StopRecord), and so
// does the process as it exits (not on Windows, where EndWriting does it).
#pragma once

#include <memory>

#include "asf_format/byte_sink.h"
#include "asf_format/muxer.h"
#include "wm_interfaces/wmsdk.h"
#include "wm_standin/sync_thread.h"

namespace kestrum::wmsdk {

// Whether a recording's end is made durable after EndWriting returns. Not
// on Windows: there a file still open refuses to be moved or removed, which
// a host may do as soon as StopRecord returns, and the system ends a
// process's threads before its libraries hear that it exits.
#if defined(_WIN32)
inline constexpr bool kEndAfterEndWriting = false;
#else
inline constexpr bool kEndAfterEndWriting = true;
#endif

// A file being written: where its bytes go, the muxer writing them and,
// when it is synced, the thread that syncs it. Destroyed in member order
// backwards: the thread is waited for first, the muxer goes before the sink
// it refers to.
struct WrittenFile {
  std::unique_ptr<asf::ByteSink> sink;
  std::unique_ptr<asf::Muxer> muxer;
  std::unique_ptr<SyncThread> sync;
};

// Hands `file`, ended but its end not confirmed, to its sync thread, which
// syncs, confirms, syncs and closes it (sink and muxer). Returns the file
// being ended, to be held until it is done; null, with `file` as it was,
// when there is no memory for it.
std::unique_ptr<WrittenFile> EndLater(WrittenFile& file);

// Ends `file`, ended but its end not confirmed, on this thread, as its sync
// thread would: a sync, the confirmation, a sync. Nothing to do for a file
// not synced. Returns `hr`, or where that is a success a confirmation that
// failed (told as a failed sync: the file stays one a repair ends).
HRESULT EndNow(WrittenFile& file, HRESULT hr);

// Waits until no file's end is being made durable; false if none was.
bool WaitForEndsInFlight();

}  // namespace kestrum::wmsdk
