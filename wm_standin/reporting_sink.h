// The output of a writer made for a recording: a sink that passes every call
// on to the sink it wraps and reports what comes of it to the recording's
// context (platform/record_context.h), added to what the recording's earlier
// outputs reported: the output's size as it grows (a stream: the bytes
// appended), what the last sync that worked covered, and
// every failing status but the one of a call that a sink which only appends
// does not offer.
#pragma once

#include <memory>
#include <string>

#include "asf_format/byte_sink.h"

namespace kestrum::wmsdk {

// As asf::OpenFileSink, reporting to the recording the calling thread works
// for (a failure to open the output too); with none, the file sink itself.
std::unique_ptr<asf::ByteSink> OpenReportingFileSink(const std::string& path, asf::Status* error);

}  // namespace kestrum::wmsdk
