// The Status of a failed system call on POSIX systems, from its errno: the
// one mapping of the file sink and the repair's file.
#pragma once

#include <cerrno>

#include "asf_format/status.h"

namespace kestrum::asf {

// `otherwise` for an errno with no Status of its own.
inline Status FromErrno(int error, Status otherwise) {
  switch (error) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return kDiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kAccessDenied;
    case ENOENT:
    case ENOTDIR:
      return kFileNotFound;
    case ENAMETOOLONG:
      return kFileNameTooLong;
    case EPIPE:
      return kBrokenPipe;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    default:
      return otherwise;
  }
}

}  // namespace kestrum::asf
