// RecordInstance: everything one recording needs. The host sees it only as an
// opaque handle (the object's address). Its operations are defined next to
// their concern: stream/ (header, start rule, splitter), output/ (profile,
// writer, packing).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "api/record_stats.h"
#include "platform/critical_section.h"
#include "stream/group.h"
#include "stream_format/frame_time.h"
#include "wm_interfaces/wm.h"

namespace kestrum {

struct PacketRecord;

// The two platform factories an instance creates its WM objects with. The
// exports pass the platform's own; tests pass recording fakes.
struct WmFactories {
  std::function<HRESULT(IWMProfileManager**)> create_profile_manager;
  std::function<HRESULT(IUnknown*, IWMWriter**)> create_writer;

  // The WMCreateProfileManager and WMCreateWriter the library is linked
  // with: the platform's on Windows, the built-in writer's when the library
  // is built with it.
  static WmFactories LinkedSdk();
  // The same for a conversion: the built-in writer, when the library is
  // built with it, ends writing at a write fault instead of recording on
  // (TransferToAsf returns the fault). The platform's writer (or a wmvcore.dll
  // standing in for it) is made as by LinkedSdk().
  static WmFactories ForConversion();
};

inline constexpr int32_t kReassemblyBufferSize = 1024000;
inline constexpr size_t kOutputNameCapacity = 260;
inline constexpr WORD kVideoStreamNumber = 8;
inline constexpr WORD kAudioStreamNumber = 6;
using stream_format::kFrameDuration;

class RecordInstance {
 public:
  // Null when the instance or its reassembly buffer cannot be allocated.
  static RecordInstance* Create(WmFactories factories);

  explicit RecordInstance(WmFactories factories);
  RecordInstance(const RecordInstance&) = delete;
  RecordInstance& operator=(const RecordInstance&) = delete;
  // Frees the reassembly buffer, deletes the lock and gives back every
  // interface held. Does not end writing.
  ~RecordInstance();

  // Takes a 40-byte stream header: S_OK when accepted, E_FAIL when rejected.
  HRESULT ParseFileHeader(const uint8_t* header);

  // Whether the group whose 48-byte header is given may start a recording,
  // under the stream type of the last header received.
  bool IsStartGroup(const uint8_t* group_header);

  // The live road: one piece of the stream, of any length.
  void SendOneFrame(const uint8_t* data, int32_t length);

  HRESULT ConfigureProfile();

  HRESULT PrepareWriter(const char* name);
  // PrepareWriter's steps: the profile, the writer, its output, writing begun.
  HRESULT BeginOutput(const char* name);
  HRESULT CreateWriter();
  HRESULT ConfigWriter(const char* name);
  HRESULT SetStringAttribute(LPCWSTR name, LPCWSTR value);
  void EndRecording();
  // Gives back the profile and the writer with its interfaces and clears
  // writer_ready and next_video_time, so a new output can be prepared.
  void ReleaseWriter();

  // The output switch (KestrumSwitchOutput): before writing began the name
  // is only replaced; then the switch waits for the next group that may
  // start a recording. S_OK, E_INVALIDARG (a null or over-long name),
  // E_UNEXPECTED after StopRecord, E_OUTOFMEMORY.
  HRESULT SwitchOutput(const char* name);
  // At a start group while a switch waits: ends the current file, keeps its
  // writer until its end is durable, and prepares the next file. A failure
  // leaves the switch waiting for the next start group.
  HRESULT SwitchFile();
  // StopRecord: ends writing, and no switch comes after it.
  void StopRecord();

  int32_t processgroup(const GroupView& group);
  int32_t processpacket(const uint8_t* data, const PacketRecord& record);

  // The instance's state, grouped by the code that owns it: a group is
  // written only by the code its comment names (and the construction).

  // Written by the sample packer (processgroup, processpacket).
  struct Packer {
    CRITICAL_SECTION lock;         // held around one sample; nothing else takes it
    uint64_t next_video_time = 0;  // the live clock; ReleaseWriter resets it
    // A packet's bytes could not be read (the packet source's memory
    // faulted: a mapped file cut or failing under it); the file road clears
    // it per conversion and then ends as a read failure.
    bool packet_unreadable = false;
  } packer;

  // Written by the writer's set-up (ConfigureProfile, PrepareWriter, ReleaseWriter).
  struct Session {
    WCHAR output_name[kOutputNameCapacity] = {};
    IWMProfileManager* profile_manager = nullptr;  // made by the construction
    IWMProfile* profile = nullptr;
    IWMWriter* writer = nullptr;  // the packer allocates samples from it
    IWMHeaderInfo* header_info = nullptr;
    IWMWriterAdvanced* writer_advanced = nullptr;  // the packer writes samples through it
    IWMWriterAdvanced3* writer_advanced3 = nullptr;
    int32_t video_enabled = 1;
    int32_t audio_enabled = 0;
    int32_t writer_ready = 0;
  } session;

  // Written by ParseFileHeader; read by the start rule and ConfigureProfile.
  struct StreamHeader {
    uint8_t file_header[kFileHeaderSize] = {};
    int32_t picture_width = 0;
    int32_t picture_height = 0;
  } stream_header;

  // Written by the splitter (SendOneFrame); the buffer lives as long as the instance.
  struct Splitter {
    uint8_t* buffer = nullptr;
    int32_t bytes_held = 0;
    int32_t synchronised = 0;
    int32_t wait_for_start = 1;
    int32_t buffer_capacity = kReassemblyBufferSize;
    // The search of the held bytes, carried from one append to the next:
    // no group start lies before `search_from` whatever bytes follow, and
    // the group found there is parsed as far as `group` says.
    int32_t search_from = 0;
    GroupProgress group;

    // The buffer now holds `count` bytes that were not searched yet.
    void HoldAnew(int32_t count) {
      bytes_held = count;
      search_from = 0;
      group = GroupProgress{};
    }
  } splitter;

  // Written by StartRecord: the host's pointer as given, never copied; the splitter reads it.
  // A name given by SwitchOutput before writing began points into `output_switch`.
  const char* file_name = nullptr;

  // Written by SwitchOutput, StopRecord and SwitchFile.
  struct OutputSwitch {
    std::string name;       // the name SwitchOutput gave before writing began
    std::string next_name;  // the file to go on in at the next start group
    std::string current;    // the file a switch went on in last (else `file_name`'s)
    bool pending = false;   // a switch waits for a start group
    bool failed = false;    // the last switch could not prepare its file: no writer
    bool stopped = false;   // StopRecord was called
    // The writer of the file ended last, kept until the next switch or the
    // instance's end, so that nothing waits for its end to be made durable.
    IWMWriter* ended_writer = nullptr;
  } output_switch;

  // What the recording has done, for its host: told by the roads, the
  // packer and the writer's set-up, read from any thread. It holds the
  // recording's context (its line route, its writer's figures), which the
  // exports make current while they work for the instance.
  RecordStats stats;

  const WmFactories& factories() const { return factories_; }

 private:
  WmFactories factories_;
};

}  // namespace kestrum
