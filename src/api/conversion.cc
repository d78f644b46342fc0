#include "api/conversion.h"

#include <optional>

#include "api/record_instance.h"
#include "convert/transfer.h"
#include "convert/transfer_progress.h"
#include "platform/file_size.h"
#include "platform/record_context.h"

namespace kestrum {
namespace {

// Below this a source is no address (the lowest 64 KiB are never mapped).
constexpr intptr_t kLowestAddress = 0x10000;

// The size of the stream `source` names, for the packet source that comes
// with the library (a path); -1 when it is not known.
int64_t SourceSize(intptr_t source) {
  if (source < kLowestAddress) return -1;
  return RegularFileSize(reinterpret_cast<const char*>(source));
}

// The conversion's own end-sync request, for the length of the call.
class EndSyncRequest {
 public:
  EndSyncRequest(RecordContext& context, bool sync) : context_(context) {
    context_.RequestEndSync(sync ? 1 : -1);
  }
  ~EndSyncRequest() { context_.RequestEndSync(-1); }
  EndSyncRequest(const EndSyncRequest&) = delete;
  EndSyncRequest& operator=(const EndSyncRequest&) = delete;

 private:
  RecordContext& context_;
};

}  // namespace

int32_t RunConversion(RecordInstance& instance, intptr_t source, const char* destination,
                      const KestrumTransferOptions* options) {
  RecordStats& stats = instance.stats;
  RecordScope scope(&stats.context());
  const EndSyncRequest sync(stats.context(), options != nullptr && options->sync != 0);
  stats.ConversionBegins();
  std::optional<TransferProgress> progress;
  if (options != nullptr && options->progress != nullptr) {
    progress.emplace(options->progress, options->context, SourceSize(source), stats);
  }
  const int32_t result = TransferToAsf(instance, PacketSource::Library(), source, destination,
                                       progress ? &*progress : nullptr);
  stats.ConversionEnded(result);
  return result;
}

}  // namespace kestrum
