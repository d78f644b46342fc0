// The writer: configured with a profile, an output name and attributes, then
// between BeginWriting and EndWriting it hands every stream sample, as given,
// to the ASF muxer, which keeps a reference to the sample until its bytes
// are written (the caller must leave them as they are once handed over).
// While it writes a file (not a stream) with a sync interval, the process's
// sync thread keeps the file durable (wm_standin/sync_thread.h). A file that
// is synced ends durably (wm_standin/durable_end.h), with an interval on that
// thread after EndWriting returns: the writer waits for it only when it is
// released or begins writing again.
//
// Results the library may meet: NS_E_INVALID_REQUEST for a call out of order
// (a sample, EndWriting or a second BeginWriting when not writing or already
// writing; configuration changes while writing; BeginWriting without a
// profile or a name), NS_E_INVALID_STREAM for a stream number the profile
// lacks, E_POINTER for null out-parameters and interfaces, E_INVALIDARG for
// an empty sample or name or a sample size of 16 MiB or more, E_OUTOFMEMORY
// when memory runs out, and the sink's or muxer's HRESULT for I/O failures.
// A BeginWriting that cannot open the file or write its header tells its
// result in a line ("writer : the file could not be begun (0x80070070)"),
// once for a cause until a file is begun. A sample refused while writing,
// by AllocateSample or WriteStreamSample, is
// told in a line of its own ("writer : sample refused (out of memory):
// 1024000 bytes at 12.380 s", asf_format/muxer.h): what the file lacks. A
// sample refused before it was given has no time yet: its line tells where
// the media then stands ("after 12.380 s"), the end of the latest sample
// given (on the live road, whose clock waits for a sample written, that is
// the time it would have had). An output that another writer holds
// (E_SHARING_VIOLATION) is never taken later by this writer: a BeginWriting
// for the same name fails the same way without touching it.
#include "wm_standin/writer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>

#include "asf_format/file_id.h"
#include "asf_format/muxer.h"
#include "diagnostics/lines.h"
#include "platform/codepage.h"
#include "platform/com.h"
#include "platform/debug_output.h"
#include "wm_interfaces/builtin_writer.h"
#include "wm_interfaces/implements.h"
#include "wm_standin/com_object.h"
#include "wm_standin/durable_end.h"
#include "wm_standin/header_attributes.h"
#include "wm_standin/sample_buffer.h"
#include "wm_standin/stream_format.h"
#include "wm_standin/sync_thread.h"

namespace kestrum::wmsdk {
namespace {

constexpr WORD kMaxStreamNumber = 63;
// FILETIME of 1970-01-01 00:00:00 UTC.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

std::atomic<int32_t> g_sync_interval_ms{kDefaultSyncIntervalMs};
std::atomic<int32_t> g_transfer_sync{0};

uint64_t NowAsFileTime() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto ticks =
      std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count() / 100;
  return kUnixEpochAsFileTime + static_cast<uint64_t>(ticks > 0 ? ticks : 0);
}

// Reads stream `index` of `profile` through its public interface.
HRESULT ReadProfileStream(IWMProfile* profile, DWORD index, ProfileStream* stream) {
  ComRef<IWMStreamConfig> config;
  HRESULT hr = profile->GetStream(index, config.Put());
  if (FAILED(hr)) return hr;
  if (!config) return E_POINTER;
  if (FAILED(hr = config->GetStreamType(&stream->stream_type)) ||
      FAILED(hr = config->GetStreamNumber(&stream->number)) ||
      FAILED(hr = config->GetBitrate(&stream->bitrate)) ||
      FAILED(hr = config->GetBufferWindow(&stream->buffer_window_ms))) {
    return hr;
  }
  ComRef<IWMMediaProps> props;
  hr = config->QueryInterface(IID_IWMMediaProps, props.PutVoid());
  if (FAILED(hr)) return hr;
  return MediaType::Fetch(props.Get(), &stream->media_type);
}

class Writer final : public ComObject<Implements<IWMWriter>, Implements<IWMWriterAdvanced3>,
                                      Implements<IWMHeaderInfo>> {
 public:
  Writer(WriterOptions options, std::shared_ptr<SamplePool> pool)
      : options_(std::move(options)), pool_(std::move(pool)) {}

  // A writer released while writing leaves its file unended, as an
  // interrupted recording does: what the muxer has completed is handed to
  // the system, made durable, and stays readable. One released while its
  // file's end is made durable waits for that.
  ~Writer() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);  // the sync thread may be noting
      if (file_.muxer) {
        file_.muxer.reset();
        (void)file_.sink->Flush();  // nowhere to report a failure
      }
    }
    file_.sync.reset();  // before the sink it syncs
    ending_.reset();
  }

  // IWMWriter
  HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile* profile) override;
  HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* filename) override;
  HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE SetInputProps(DWORD input, IWMInputMediaProps* props) override;
  HRESULT STDMETHODCALLTYPE BeginWriting() override;
  HRESULT STDMETHODCALLTYPE EndWriting() override;
  HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** sample) override;

  // IWMWriterAdvanced
  HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD stream_number, QWORD sample_time,
                                              DWORD sample_send_time, QWORD sample_duration,
                                              DWORD flags, INSSBuffer* sample) override;

  // IWMHeaderInfo
  HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* stream_number, LPCWSTR name,
                                               WMT_ATTR_DATATYPE* type, BYTE* value,
                                               WORD* length) override;
  HRESULT STDMETHODCALLTYPE SetAttribute(WORD stream_number, LPCWSTR name, WMT_ATTR_DATATYPE type,
                                         const BYTE* value, WORD length) override;

 private:
  void* Find(REFIID iid) override;
  bool writing() const { return file_.muxer != nullptr; }
  bool has_profile() const { return !streams_.empty(); }
  bool HasStream(WORD number) const;
  HRESULT BeginLocked();
  bool NoteDurable(uint64_t file, uint64_t durable);

  std::mutex mutex_;  // every method takes it: the writer may be shared across threads
  const WriterOptions options_;
  const std::shared_ptr<SamplePool> pool_;
  // One input per stream, in profile order; none before a profile is set.
  std::vector<asf::StreamInfo> streams_;
  std::basic_string<WCHAR> output_name_;
  std::basic_string<WCHAR> refused_name_;  // an output another writer held
  HRESULT begin_failure_told_ = S_OK;      // the last BeginWriting's failure, told in a line
  HeaderAttributes attributes_;
  WrittenFile file_;                     // its muxer set exactly while writing
  bool end_later_ = false;               // while writing: EndWriting leaves the end to file_.sync
  std::unique_ptr<WrittenFile> ending_;  // after EndWriting, while or once its end is made durable
  QWORD media_end_ = 0;  // while writing: the latest end (time + duration) of a sample given
  bool dated_ = false;   // while writing: the file is dated by its first sample
  uint64_t files_begun_ = 0;  // tells a sync thread's file from a later one
};

void* Writer::Find(REFIID iid) {
  if (iid == IID_IUnknown || iid == IID_IWMWriter) return static_cast<IWMWriter*>(this);
  if (iid == IID_IWMWriterAdvanced) {
    return static_cast<IWMWriterAdvanced*>(static_cast<IWMWriterAdvanced3*>(this));
  }
  if (iid == IID_IWMWriterAdvanced2) {
    return static_cast<IWMWriterAdvanced2*>(static_cast<IWMWriterAdvanced3*>(this));
  }
  if (iid == IID_IWMWriterAdvanced3) return static_cast<IWMWriterAdvanced3*>(this);
  if (iid == IID_IWMHeaderInfo) return static_cast<IWMHeaderInfo*>(this);
  return nullptr;
}

bool Writer::HasStream(WORD number) const {
  for (const asf::StreamInfo& stream : streams_) {
    if (stream.number == number) return true;
  }
  return false;
}

HRESULT Writer::SetProfile(IWMProfile* profile) {
  if (profile == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  if (writing()) return NS_E_INVALID_REQUEST;
  return Guarded([&] {
    DWORD count = 0;
    HRESULT hr = profile->GetStreamCount(&count);
    if (FAILED(hr)) return hr;
    if (count == 0) return E_INVALIDARG;
    std::vector<asf::StreamInfo> streams;
    for (DWORD i = 0; i < count; ++i) {
      ProfileStream stream;
      if (FAILED(hr = ReadProfileStream(profile, i, &stream))) return hr;
      if (stream.number == 0 || stream.number > kMaxStreamNumber) return NS_E_INVALID_STREAM;
      for (const asf::StreamInfo& earlier : streams) {
        if (earlier.number == stream.number) return NS_E_INVALID_STREAM;
      }
      asf::StreamInfo info;
      if (FAILED(hr = DescribeStream(stream, &info))) return hr;
      streams.push_back(std::move(info));
    }
    streams_ = std::move(streams);
    return S_OK;
  });
}

HRESULT Writer::SetOutputFilename(const WCHAR* filename) {
  if (filename == nullptr) return E_POINTER;
  if (filename[0] == 0) return E_INVALIDARG;
  std::lock_guard<std::mutex> lock(mutex_);
  if (writing()) return NS_E_INVALID_REQUEST;
  return Guarded([&] {
    output_name_ = filename;
    return S_OK;
  });
}

HRESULT Writer::GetInputCount(DWORD* count) {
  if (count == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!has_profile()) return NS_E_INVALID_REQUEST;
  *count = static_cast<DWORD>(streams_.size());
  return S_OK;
}

HRESULT Writer::SetInputProps(DWORD input, IWMInputMediaProps* props) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!has_profile() || writing()) return NS_E_INVALID_REQUEST;
  if (input >= streams_.size()) return E_INVALIDARG;
  // Samples are written as given: an input format to encode from has no use.
  if (props != nullptr) return E_NOTIMPL;
  return S_OK;
}

HRESULT Writer::BeginWriting() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (writing() || !has_profile() || output_name_.empty()) return NS_E_INVALID_REQUEST;
  const HRESULT hr = Guarded([&] { return BeginLocked(); });
  if (FAILED(hr) && hr != begin_failure_told_) {
    char line[96];
    std::snprintf(line, sizeof line, lines::kBeginFailedFormat, static_cast<unsigned>(hr));
    OutputDebugStringA(line);
  }
  begin_failure_told_ = SUCCEEDED(hr) ? S_OK : hr;
  return hr;
}

HRESULT Writer::BeginLocked() {
  asf::FileInfo info;
  info.file_id = options_.file_id();
  info.creation_time = options_.creation_time();
  info.packet_size = options_.packet_size;
  for (const asf::StreamInfo& stream : streams_) {
    info.preroll_ms = std::max(info.preroll_ms, stream.buffer_window_ms);
  }
  attributes_.FillIn(&info);
  info.streams = streams_;

  if (!refused_name_.empty() && refused_name_ == output_name_) return E_SHARING_VIOLATION;
  ending_.reset();  // the file this writer ended last is done first
  const std::string name = WideToNarrow(output_name_.c_str());
  asf::Status error = asf::kFailed;
  std::unique_ptr<asf::ByteSink> sink = options_.open_sink(name, &error);
  if (sink == nullptr && error == asf::kSharingViolation && WaitForEndsInFlight()) {
    sink = options_.open_sink(name, &error);  // it may have been a file being ended
  }
  if (sink == nullptr) {
    if (error == asf::kSharingViolation) refused_name_ = output_name_;
    return asf::Failed(error) ? ToHresult(error) : E_FAIL;
  }
  // A stream (a pipe, a device) has nothing to sync.
  const uint32_t interval = options_.sync_interval_ms.value_or(CurrentSyncInterval());
  const bool when_ending = options_.sync_when_ending.value_or(CurrentTransferSync());
  const bool syncing = (interval > 0 || when_ending) && sink->seekable();
  const bool end_later = syncing && !when_ending && kEndAfterEndWriting;
  asf::MuxerOptions muxer_options;
  muxer_options.on_fault = options_.on_write_fault;
  muxer_options.batch_bytes = options_.batch_bytes;
  muxer_options.report = [](const char* line) { OutputDebugStringA(line); };
  // The packets and the index are durable before the header says the file
  // ended.
  muxer_options.confirm_end_later = syncing;
  auto muxer = std::make_unique<asf::Muxer>(*sink, std::move(info), std::move(muxer_options));
  const HRESULT hr = ToHresult(muxer->Begin());
  if (FAILED(hr)) return hr;  // the muxer goes before the sink it refers to
  end_later_ = end_later;
  const uint64_t file = ++files_begun_;
  if (syncing) {
    file_.sync = std::make_unique<SyncThread>(
        *sink, interval, [](const char* line) { OutputDebugStringA(line); },
        [this, file](uint64_t durable) { return NoteDurable(file, durable); });
    file_.sync->Written(sink->HandedOver());  // the header
  }
  file_.sink = std::move(sink);
  file_.muxer = std::move(muxer);
  media_end_ = 0;
  dated_ = false;
  if (options_.began) options_.began(interval);
  return hr;
}

// The syncs run on the sync thread, or once the writer's lock is given
// back: nothing that waits for the lock waits for the disk.
HRESULT Writer::EndWriting() {
  WrittenFile ended;  // ended here, when not handed to its sync thread
  HRESULT hr = S_OK;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!writing()) return NS_E_INVALID_REQUEST;
    hr = ToHresult(file_.muxer->End());
    if (SUCCEEDED(hr)) hr = ToHresult(file_.sink->Flush());
    pool_->Trim();  // End let every sample go
    if (end_later_) {
      std::unique_ptr<WrittenFile> ending = EndLater(file_);
      if (ending != nullptr) {
        ending_ = std::move(ending);
        return hr;
      }
    }
    ended = std::move(file_);
  }
  return EndNow(ended, hr);
}

// On the sync thread, after a sync that worked: notes it in file number
// `file` while that file is written. Never waits for the lock, which is held
// while a sync thread is waited for (BeginWriting waits for the end of the
// file before): false when it is taken, to be tried again.
bool Writer::NoteDurable(uint64_t file, uint64_t durable) {
  std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
  if (!lock.owns_lock()) return false;
  if (file_.muxer != nullptr && file == files_begun_) (void)file_.muxer->MarkDurable(durable);
  return true;
}

HRESULT Writer::AllocateSample(DWORD size, INSSBuffer** sample) {
  if (sample == nullptr) return E_POINTER;
  *sample = nullptr;
  // A sample the muxer would refuse is not worth the memory.
  const bool too_large = size >= asf::kMaxSampleSize;
  const HRESULT hr = too_large ? E_INVALIDARG : SampleBuffer::Create(pool_, size, sample);
  if (too_large || hr == E_OUTOFMEMORY) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (writing()) {
      char line[128];
      const char* why = too_large ? lines::kRefusalTooLarge : lines::kRefusalNoMemory;
      OutputDebugStringA(asf::RefusedSampleLine(line, why, size, media_end_, false));
    }
  }
  return hr;
}

HRESULT Writer::WriteStreamSample(WORD stream_number, QWORD sample_time, DWORD /*sample_send_time*/,
                                  QWORD sample_duration, DWORD flags, INSSBuffer* sample) {
  if (sample == nullptr) return E_POINTER;
  BYTE* bytes = nullptr;
  DWORD length = 0;
  HRESULT hr = sample->GetBufferAndLength(&bytes, &length);
  if (FAILED(hr)) return hr;
  if (bytes == nullptr || length == 0) return E_INVALIDARG;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!writing()) return NS_E_INVALID_REQUEST;
  if (!HasStream(stream_number)) return NS_E_INVALID_STREAM;
  const QWORD end = sample_duration > ~QWORD{0} - sample_time ? ~QWORD{0}
                                                                : sample_time + sample_duration;
  media_end_ = std::max(media_end_, end);
  return Guarded([&] {
    // The muxer writes the sample's bytes from its buffer: it keeps a
    // reference until they are written.
    sample->AddRef();
    asf::SampleHold hold([](void* held) { static_cast<INSSBuffer*>(held)->Release(); }, sample);
    // The file is dated when writing begins, and again by its first sample,
    // which on the live road may come seconds later (the start group).
    if (!dated_) dated_ = asf::Succeeded(file_.muxer->SetCreationTime(options_.creation_time()));
    const HRESULT written = ToHresult(
        file_.muxer->WriteSample(stream_number, sample_time, sample_duration,
                                 (flags & WM_SF_CLEANPOINT) != 0, bytes, length, std::move(hold)));
    if (file_.sync) {
      file_.sync->Written(file_.sink->HandedOver());
      // A note for a repair; nothing depends on it.
      (void)file_.muxer->MarkDurable(file_.sync->Durable());
    }
    return written;
  });
}

HRESULT Writer::GetAttributeByName(WORD* stream_number, LPCWSTR name, WMT_ATTR_DATATYPE* type,
                                   BYTE* value, WORD* length) {
  std::lock_guard<std::mutex> lock(mutex_);
  return attributes_.Get(stream_number, name, type, value, length);
}

HRESULT Writer::SetAttribute(WORD stream_number, LPCWSTR name, WMT_ATTR_DATATYPE type,
                             const BYTE* value, WORD length) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The header, where the attributes go, is already out once writing began.
  if (writing()) return NS_E_INVALID_REQUEST;
  return attributes_.Set(stream_number, name, type, value, length);
}

}  // namespace

uint32_t CurrentSyncInterval() {
  return static_cast<uint32_t>(g_sync_interval_ms.load(std::memory_order_relaxed));
}

int32_t SetSyncInterval(int32_t milliseconds) {
  if (milliseconds < 0) return g_sync_interval_ms.load(std::memory_order_relaxed);
  return g_sync_interval_ms.exchange(milliseconds, std::memory_order_relaxed);
}

bool CurrentTransferSync() { return g_transfer_sync.load(std::memory_order_relaxed) != 0; }

int32_t SetTransferSync(int32_t on) {
  if (on < 0) return g_transfer_sync.load(std::memory_order_relaxed);
  return g_transfer_sync.exchange(on != 0 ? 1 : 0, std::memory_order_relaxed);
}

HRESULT CreateWriter(WriterOptions options, IWMWriter** writer) {
  if (writer == nullptr) return E_POINTER;
  *writer = nullptr;
  return Guarded([&] {
    if (!options.open_sink) options.open_sink = asf::OpenFileSink;
    if (!options.file_id) options.file_id = asf::RandomFileId;
    if (!options.creation_time) options.creation_time = NowAsFileTime;
    auto pool = std::make_shared<SamplePool>(options.samples_in_pages);
    *writer = new Writer(std::move(options), std::move(pool));
    return S_OK;
  });
}

}  // namespace kestrum::wmsdk
