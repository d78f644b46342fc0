// A recording's series kept within its limits (--keep-segments,
// --max-total, --keep-free): the oldest files removed before a new file
// begins and when the disk fills, each removal told.
#include <string>
#include <vector>

#include "commands/recording.h"
#include "frame/cli.h"
#include "report/progress.h"

namespace kestrum_cli {

std::vector<std::string> Recording::InHand() const {
  std::vector<std::string> files;
  if (files_.empty()) return files;  // none begun yet
  files.push_back(output_name_);
  if (switching_) files.push_back(next_name_);
  return files;
}

void Recording::KeepWithinLimits() {
  if (!request_.retention.any()) return;
  if (!retention_) retention_.emplace(request_.pattern, request_.retention);
  for (const Removal& removal : retention_->BeforeNewFile(InHand())) TellRemoval(removal);
}

void Recording::MakeRoomOnFullDisk() {
  if (!retention_ || !diagnostics_->faults().open) return;
  const uint64_t tried = diagnostics_->samples();
  if (tried == room_made_at_) return;  // no sample has failed since the last removal
  room_made_at_ = tried;
  if (const auto removal = retention_->MakeRoom(InHand())) TellRemoval(*removal);
}

void Recording::TellRemoval(const Removal& removal) {
  if (progress_) progress_->Finish();
  Fail(kRecordCommand, kExitOk,
       "removed " + removal.file + " (" + FormatMegabytes(removal.bytes) + "): " + removal.reason);
  removed_.push_back(removal);
}

}  // namespace kestrum_cli
