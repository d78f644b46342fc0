// WM factories for a RecordInstance whose writer is the stand-in writer over
// memory: every byte a recording writes lands in a MemoryOutput the caller
// keeps, which outlives the writer, so a test or a fuzz target can look at the
// file (or hand it to ffprobe) after the writer is gone. File ID and creation
// time are fixed, so equal recordings give equal bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "api/record_instance.h"
#include "asf_format/tests/memory_sink.h"

namespace kestrum::testing {

struct MemoryOutput {
  // What the file would hold: each output opened starts it afresh, as a
  // created file does. With fail_after set, appends past that many bytes
  // fail as a full disk's would, keeping what fits.
  asf::MemorySink sink;
  size_t opens = 0;  // outputs opened so far
};

// `fail_after`, when given, is set on the sink each time an output is opened.
WmFactories MemoryWriterFactories(std::shared_ptr<MemoryOutput> output,
                                  std::optional<size_t> fail_after = std::nullopt);

}  // namespace kestrum::testing
