// The stand-in writer's own entry point, with what WMCreateWriter takes from
// the system made injectable: where the bytes go, the file ID and the
// creation time (random and now by default).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "asf_format/byte_sink.h"
#include "asf_format/muxer.h"
#include "wm_interfaces/wmsdk.h"

namespace kestrum::wmsdk {

struct WriterOptions {
  // Opens the output named by SetOutputFilename (converted back to the
  // host's code page). Default: a file sink.
  std::function<std::unique_ptr<asf::ByteSink>(const std::string& path, asf::Status* error)> open_sink;
  std::function<asf::Guid()> file_id;        // default: random
  // Default: now, as a FILETIME; asked when writing begins and again for the
  // file's first sample, which dates it.
  std::function<uint64_t()> creation_time;
  uint32_t packet_size = 0;                  // 0: the muxer's default
  // What a failed write does (asf_format/muxer.h): by default the writer records
  // on, dropping what cannot be written, as a live recording needs; a
  // conversion asks it to end writing at the fault. Either way the fault and
  // what it cost are told on the debugger output, and EndWriting returns it.
  asf::FaultPolicy on_write_fault = asf::FaultPolicy::kKeepWriting;
  // Completed packets gathered before a write (asf::MuxerOptions).
  size_t batch_bytes = asf::kBatchBytes;
  // Sample buffers in pages of their own (platform/page_memory.h), which go
  // back to the system once let go: for a process holding many recordings.
  bool samples_in_pages = false;
  // How far the file's durability may lag behind what was written, in ms:
  // the process's sync thread syncs it that often while writing, and
  // ends it durably after EndWriting, which does not wait for it (the
  // writer waits when it is released; wm_standin/sync_thread.h). 0: never.
  // Unset: the process-wide interval (SetSyncInterval,
  // wm_interfaces/builtin_writer.h) when writing begins.
  std::optional<uint32_t> sync_interval_ms;
  // The file is made durable as it ends (its packets before the header
  // says it ended, then the rest) before EndWriting returns; with no
  // interval, only then. Unset: the process-wide setting (SetTransferSync).
  std::optional<bool> sync_when_ending;
  // Told, on the thread that began writing, the sync interval a file began with.
  std::function<void(uint32_t sync_interval_ms)> began;
};

// The process-wide settings that writers without their own take.
uint32_t CurrentSyncInterval();
bool CurrentTransferSync();

HRESULT CreateWriter(WriterOptions options, IWMWriter** writer);

// The writer's result for what the ASF component reports: its codes are
// numbered as the interfaces number theirs.
inline HRESULT ToHresult(asf::Status status) { return static_cast<HRESULT>(status.code()); }

}  // namespace kestrum::wmsdk
