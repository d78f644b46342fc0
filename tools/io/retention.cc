#include "io/retention.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <system_error>
#include <tuple>
#include <utility>

#ifndef _WIN32
#include <sys/file.h>
#endif

#include "io/kestrum_asf.h"
#include "io/output_path.h"

namespace kestrum_cli {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
#else
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
#endif

// Whether `file` names a regular file itself (not through a symlink).
bool IsRegularFile(const std::string& file, struct stat& info) {
#ifdef _WIN32
  return ::stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode);
#else
  return ::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode);
#endif
}

int64_t ModifiedNs(const struct stat& info) {
#if defined(_WIN32) || defined(__APPLE__)
  return static_cast<int64_t>(info.st_mtime) * 1000000000;
#else
  return static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
#endif
}

// Whether the regular file `file` is one Kestrum's writer ended.
bool FileEndedByKestrum(const std::string& file) {
  const int fd = ::open(file.c_str(), kOpenFlags);
  if (fd < 0) return false;
  const bool ended = EndedByKestrum(fd);
  ::close(fd);
  return ended;
}

}  // namespace

uint64_t FreeBytes(const std::string& folder) {
  std::error_code error;
  const fs::space_info space = fs::space(folder.empty() ? "." : folder, error);
  return error ? UINT64_MAX : static_cast<uint64_t>(space.available);
}

bool RemoveSeriesFile(const std::string& file) {
  struct stat info;
  if (!IsRegularFile(file, info)) return false;
#ifdef _WIN32
  // A file another program has open cannot be removed there.
  return !OutputInUse(file) && FileEndedByKestrum(file) && ::unlink(file.c_str()) == 0;
#else
  const int fd = ::open(file.c_str(), kOpenFlags);
  if (fd < 0) return false;
  // Held while it is removed: a writer, or a conversion reading it, has a
  // lock that keeps this one out; one that comes later makes a new file.
  const bool removed = ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                       IdOfDescriptor(fd) == IdOfPath(file) && IsRegularFile(file, info) &&
                       EndedByKestrum(fd) && ::unlink(file.c_str()) == 0;
  ::close(fd);
  return removed;
#endif
}

std::vector<Retention::Candidate> Retention::Candidates(
    const std::vector<std::string>& in_hand) const {
  std::vector<Candidate> found;
  std::vector<FileId> held;
  for (const std::string& file : in_hand) held.push_back(IdOfPath(file));
  std::map<std::string, Candidate> ended;  // this scan's, for the next
  std::error_code error;
  const std::string& folder = pattern_.folder();
  for (fs::directory_iterator it(folder.empty() ? "." : folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string entry = it->path().filename().string();
    const std::string file = folder + entry;
    struct stat info;
    if (!pattern_.Makes(entry) || !IsRegularFile(file, info)) continue;
    const FileId id = IdOfPath(file);
    if (std::find(held.begin(), held.end(), id) != held.end()) continue;
    const Candidate candidate{file, static_cast<uint64_t>(info.st_size), ModifiedNs(info)};
    // A file once ended stays so: its header is read again only when it
    // changed.
    const auto known = ended_.find(file);
    if (!(known != ended_.end() && known->second.bytes == candidate.bytes &&
          known->second.modified_ns == candidate.modified_ns) &&
        !FileEndedByKestrum(file)) {
      continue;
    }
    ended.emplace(file, candidate);
    found.push_back(candidate);
  }
  ended_.swap(ended);
  std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
    return std::tie(a.modified_ns, a.file) < std::tie(b.modified_ns, b.file);
  });
  return found;
}

std::string Retention::Over(uint64_t files, uint64_t bytes, uint64_t expected) const {
  if (limits_.keep_segments > 0 && files > limits_.keep_segments) return limits_.keep_segments_text;
  if (limits_.max_total > 0 && bytes > limits_.max_total) return limits_.max_total_text;
  const uint64_t free = FreeBytes(pattern_.folder());
  if (limits_.keep_free > 0 && (free < limits_.keep_free || free - limits_.keep_free < expected)) {
    return limits_.keep_free_text;
  }
  return "";
}

std::vector<Removal> Retention::BeforeNewFile(const std::vector<std::string>& in_hand) const {
  std::vector<Removal> removed;
  if (!limits_.any()) return removed;
  const std::vector<Candidate> candidates = Candidates(in_hand);
  uint64_t files = candidates.size() + in_hand.size() + 1;  // the new one too
  uint64_t bytes = 0;
  for (const Candidate& c : candidates) bytes += c.bytes;
  uint64_t expected = 0;  // the new file's, as large as the one in hand
  for (const std::string& held : in_hand) {
    struct stat info;
    expected = ::stat(held.c_str(), &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
    bytes += expected;
  }
  bytes += expected;
  for (const Candidate& c : candidates) {
    const std::string reason = Over(files, bytes, expected);
    if (reason.empty()) break;
    if (!RemoveSeriesFile(c.file)) continue;  // held, or no longer what it was
    removed.push_back({c.file, c.bytes, reason});
    --files;
    bytes -= c.bytes;
  }
  return removed;
}

std::optional<Removal> Retention::MakeRoom(const std::vector<std::string>& in_hand) const {
  for (const Candidate& c : Candidates(in_hand)) {
    if (RemoveSeriesFile(c.file)) return Removal{c.file, c.bytes, "disk full"};
  }
  return std::nullopt;
}

}  // namespace kestrum_cli
