// A FUSE file system of a test's own, served by a thread of the test
// process through libfuse's low-level API, mounted in a folder of its own
// under the test's folder. The fuse device node is made there too (never
// the machine's own): mknod, open, mount(2) with that descriptor, and the
// session reads its requests from it. Needs root and the kernel's FUSE:
// mounted() says whether it could be made, why_not() why not.
//
// Each request is answered on the serving thread, one at a time, so the
// operations need no lock against each other; what the test reads of the
// file system's state while it is mounted needs one. A file system whose
// state the test never reads may be served by a child process instead
// (`in_child`), which keeps serving whatever the test process does (under
// valgrind, say, whose threads run one at a time).
#pragma once

#include <fuse_lowlevel.h>
#include <sys/types.h>

#include <string>
#include <thread>

namespace kestrum::testing {

class FuseMount {
 public:
  // Mounts `operations` (their `userdata`, which must outlive the mount) at
  // `dir`/mnt, after a mount left there by a run that died is taken off.
  // `options` are added to the mount's own (max_read=4096, say);
  // `read_only` mounts it so.
  FuseMount(const std::string& dir, const fuse_lowlevel_ops& operations, void* userdata,
            const std::string& options, bool read_only, bool in_child = false);
  // Takes the mount off and ends the serving thread; a request still under
  // way is answered with an error by the kernel.
  ~FuseMount();
  FuseMount(const FuseMount&) = delete;
  FuseMount& operator=(const FuseMount&) = delete;

  bool mounted() const { return session_ != nullptr; }
  const std::string& why_not() const { return why_not_; }
  const std::string& path() const { return mount_point_; }

 private:
  void Serve();

  std::string mount_point_;
  std::string why_not_;
  fuse_session* session_ = nullptr;
  int stop_[2] = {-1, -1};  // a pipe: a byte written ends the serving thread
  std::thread thread_;
  pid_t child_ = -1;  // the serving child, with in_child
};

// The attributes of a regular file or folder as the kernel is told them.
struct stat FuseAttributes(fuse_ino_t node, bool folder, uint64_t size);

}  // namespace kestrum::testing
