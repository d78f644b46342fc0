// The output switch: a recording goes on in another file from a group that
// may start a recording. The current file is ended, its writer given back
// (kept until its end is durable) and a new one prepared as the first was
// (the stored stream header, the same attributes, the recording's sync
// interval), its clock from 0; the group that starts it is its first.
#include <cstring>
#include <new>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "api/record_instance.h"
#include "platform/com.h"

namespace kestrum {

namespace {

// Whether `next` names the file `current` names: the same name, or (where
// the system tells a file's identity) another name of the same file. Going
// on in it would rewrite the file just ended once its end is durable.
bool SameFile(const char* current, const char* next) {
  if (current == nullptr) return false;
  if (std::strcmp(current, next) == 0) return true;
#ifndef _WIN32
  struct stat a {};
  struct stat b {};
  return stat(current, &a) == 0 && stat(next, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
#else
  return false;
#endif
}

}  // namespace

HRESULT RecordInstance::SwitchOutput(const char* name) {
  if (name == nullptr || strnlen(name, kOutputNameCapacity) >= kOutputNameCapacity) {
    return E_INVALIDARG;
  }
  if (output_switch.stopped) return E_UNEXPECTED;
  try {
    if (session.writer_ready == 0 && !output_switch.failed) {
      // Writing has not begun: the name is replaced, as StartRecord does, but copied.
      output_switch.name = name;
      file_name = output_switch.name.c_str();
      stats.Named(true);
      return S_OK;
    }
    const char* current =
        output_switch.current.empty() ? file_name : output_switch.current.c_str();
    if (session.writer_ready != 0 && SameFile(current, name)) return E_INVALIDARG;
    output_switch.next_name = name;  // a later name replaces one still waiting
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  output_switch.pending = true;
  return S_OK;
}

HRESULT RecordInstance::SwitchFile() {
  if (session.writer_ready != 0) {
    const HRESULT ended = session.writer != nullptr ? session.writer->EndWriting() : S_OK;
    stats.FileSwitched(ended, packer.next_video_time);
    // The writer before it has long made its file's end durable.
    ReleaseAndClear(output_switch.ended_writer);
    output_switch.ended_writer = session.writer;
    session.writer = nullptr;
    ReleaseWriter();  // the clock starts again from 0
  }
  const HRESULT hr = PrepareWriter(output_switch.next_name.c_str());
  if (FAILED(hr)) {
    // No file now: groups are dropped until the next start group tries again.
    output_switch.failed = true;
    splitter.wait_for_start = 1;
    stats.SwitchFailed();
    return hr;
  }
  output_switch.current = output_switch.next_name;
  output_switch.pending = false;
  output_switch.failed = false;
  return S_OK;
}

void RecordInstance::StopRecord() {
  output_switch.stopped = true;
  output_switch.pending = false;
  if (output_switch.failed) stats.Ended(S_OK);  // no file was open to end
  EndRecording();
}

}  // namespace kestrum
