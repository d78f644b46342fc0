// Recording fakes of the WM interfaces the library calls. Every call is logged
// by name with its arguments, any call can be made to fail, and what the
// library handed over (media types, properties, samples) is kept for checks.
// They implement the interfaces whole (on Windows the platform's own, as
// <wmsdk.h> declares them); methods the library never calls answer
// E_NOTIMPL.
//
//   FakeWm wm;
//   wm.FailNext("SetOutputFilename");
//   RecordInstance instance(wm.Factories());
//   ... wm.calls, wm.samples, wm.live_objects
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "api/record_instance.h"

namespace kestrum::testing {

struct FakeStream {
  GUID stream_type{};
  WORD number = 0;
  DWORD bitrate = 0;
  DWORD buffer_window = 0;
  bool has_media_type = false;
  WM_MEDIA_TYPE media_type{};  // pbFormat points into `format`
  std::vector<uint8_t> format;
  DWORD quality = 0;
  LONGLONG max_key_frame_spacing = 0;
  // Property name → (type, value bytes), in the order they were set.
  std::vector<std::pair<std::string, std::pair<WMT_ATTR_DATATYPE, std::vector<uint8_t>>>> properties;
};

struct FakeSample {
  WORD stream = 0;
  QWORD time = 0;
  DWORD send_time = 0;
  QWORD duration = 0;
  DWORD flags = 0;
  std::vector<uint8_t> bytes;
};

class FakeWm {
 public:
  FakeWm() = default;
  FakeWm(const FakeWm&) = delete;
  FakeWm& operator=(const FakeWm&) = delete;

  // Factories that create the fakes below (and log "WMCreateProfileManager" /
  // "WMCreateWriter").
  WmFactories Factories();

  // The next `times` calls of `method` (its bare name, e.g. "AllocateSample")
  // return `result` instead of succeeding.
  void FailNext(const std::string& method, HRESULT result = E_FAIL, int times = 1);
  // Lines of `calls` whose method name is `method`.
  size_t CountCalls(const std::string& method) const;
  // `calls` without the argument lists: just the method names.
  std::vector<std::string> CallNames() const;

  // Interfaces the fakes offer through QueryInterface.
  bool offer_property_vault = true;
  bool offer_video_media_props = true;
  bool offer_writer_advanced = true;
  bool offer_header_info = true;
  bool offer_writer_advanced3 = true;

  std::vector<std::string> calls;          // "Method(arguments)", in order
  std::vector<FakeStream> profile_streams; // streams added to the latest profile
  std::vector<FakeSample> samples;         // samples handed to WriteStreamSample
  std::map<std::u16string, std::u16string> attributes;  // SetAttribute, stream 0
  std::vector<WORD> attribute_lengths;     // the byte length of each SetAttribute
  std::u16string output_filename;
  int live_objects = 0;                    // fake objects not yet released
  int writers_created = 0;
  int profiles_created = 0;

  // Used by the fakes.
  HRESULT Call(const std::string& method, const std::string& arguments = "");

 private:
  std::map<std::string, std::vector<HRESULT>> failures_;
};

// "{73646976-0000-0010-8000-00AA00389B71}"
std::string GuidText(const GUID& guid);

}  // namespace kestrum::testing
