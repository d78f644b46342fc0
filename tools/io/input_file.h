// The inputs the commands read front to back: standard input or a file,
// held under a shared lock while read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "stream_format/file_header.h"

namespace kestrum_cli {

// An input read front to back, opened once: standard input (in binary
// mode) for "-", else the file at `path`. A regular file (standard input
// too) is read under a shared lock, as the packet source reads its
// streams: no writer can take it while it is read, and one that has it
// keeps it from being opened. fd() is -1 when it could not be opened.
// Closes only what it opened.
class InputFile {
 public:
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  int fd() const { return fd_; }
  // "cannot open 'PATH': REASON", for when fd() is -1; "'PATH' is being
  // written by another program ..." when a writer has it;
  // FolderInputMessage for a folder.
  std::string OpenError() const;

 private:
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  bool owned_ = false;
  bool written_ = false;  // refused: a writer has it
  bool folder_ = false;   // refused: a folder
};

// True when `path` names a folder (through symlinks). Every command refuses
// one as an input with FolderInputMessage (kExitInput).
bool IsFolder(const std::string& path);
// "cannot read 'PATH': it is a folder".
std::string FolderInputMessage(const std::string& path);

// $TMPDIR, or /tmp where it is not set.
std::string TemporaryFolder();
// A temporary file of its own there, removed at once: its descriptor, which
// the caller closes; -1 with `error` said.
int MakeTemporaryFile(std::string& error);

// A copy of what comes on `fd` (a pipe, say) for a reader that must seek:
// `prefix` (what was read of it already), then the rest of `fd`, in a
// temporary file of its own in $TMPDIR (or /tmp), removed at once. Its
// descriptor at offset 0, which the caller closes; -1 with `error` said.
int HoldInTemporaryFile(const uint8_t* prefix, size_t size, int fd, std::string& error);

// Size of a regular file, or -1.
int64_t FileSize(const std::string& path);

// Opens `path` as an InputFile and reads its first 40 bytes into `header`.
// Returns kExitOk, kExitInput (cannot open or read, or another program is
// writing it: `error` says why) or kExitNotStream (fewer than 40 bytes).
int ReadStreamHeader(const std::string& path, uint8_t (&header)[40], std::string& error);

// "'IN' is not a stream: fewer than its 40-byte header"; with `held`, the
// bytes it holds: "'IN' is not a stream: 12 bytes, fewer than its 40-byte
// header".
std::string ShortHeaderMessage(const std::string& input, std::optional<size_t> held = std::nullopt);
// "'IN' is not a stream: its header is refused: " and why; for an ASF file
// (`header`, its first 40 bytes, begin with the ASF header object), that it
// is one, with the command that gives its stream back.
std::string RefusedHeaderMessage(const std::string& input, const uint8_t (&header)[40],
                                 const kestrum::stream_format::DecodedHeader& decoded);
// "'IN' was cut shorter while it was read (another program truncated it)".
std::string CutShorterMessage(const std::string& input);

}  // namespace kestrum_cli
