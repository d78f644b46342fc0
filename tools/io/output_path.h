// Where a command's output goes, and what every command that writes one
// (convert, record, extract, generate) checks before its first byte: the
// output is never one of the inputs (by device and inode, also through
// links and standard input), can be written, is not held by another program
// (a writer, or a conversion reading it), and with -n is made anew,
// exclusively. The bytes then go through the same file sink as the
// library's writer: written through, never replaced or removed, locked for
// one writer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "asf_format/byte_sink.h"
#include "io/output_kind.h"

namespace kestrum_cli {

// A file's identity: device and inode (on Windows, volume and file index).
struct FileId {
  bool known = false;
  uint64_t device = 0;
  uint64_t file = 0;
  bool operator==(const FileId& other) const {
    return known && other.known && device == other.device && file == other.file;
  }
};
// Of what `path` names (through symlinks); unknown when it does not exist.
FileId IdOfPath(const std::string& path);
// Of an open descriptor.
FileId IdOfDescriptor(int fd);
// Of an INPUT as the command line gives it: "-" is standard input.
FileId IdOfInput(const std::string& input);

// True when both paths name the same existing file.
bool SameFile(const std::string& a, const std::string& b);

// True when `path` can be written: an existing writable file (or device, or
// FIFO), or a new file in a writable folder, also where a symlink that
// points nowhere names it. Nothing is made, changed or removed. Otherwise
// `error` says why.
bool CheckOutputWritable(const std::string& path, std::string& error);

// True when another program holds `path` so that the library would refuse
// it: a regular file open for writing, or read so that it may not be written
// (a conversion's input, a recording's); a FIFO, a pipe or a device another
// writer has.
bool OutputInUse(const std::string& path);

// What a refused output gets: the exit code (an ExitCode) and why.
struct OutputRefusal {
  int code = 0;  // kExitOk: not refused
  std::string message;
  bool made = false;  // not refused, and the file was made here (-n)
};

// The checks before the first byte of an output, in this order: `opened`
// (the name the output is opened by; `shown` names it in messages) is none
// of `inputs` (INPUTs as given, "-" standard input: kExitUsage), can be
// written, is not in use by another program, and then by `overwrite`: with
// kNever it does not exist as a regular file, and is made here, exclusively,
// so that of two programs only one gets it (the other is refused as if it
// had existed); with kSameKind a regular file that exists is empty or holds
// `kind` (ForeignOutput; kExitOutput). A FIFO, a pipe or a device is never
// refused for existing.
OutputRefusal CheckOutput(const std::string& opened, const std::string& shown,
                          const std::vector<std::string>& inputs, Overwrite overwrite,
                          OutputKind kind);

// How a message names an OUTPUT as given: "standard output" for "-",
// else 'OUTPUT'.
std::string OutputInWords(const std::string& shown);

// "'OUTPUT' is in use by another program (...); it was left as it is".
std::string InUseMessage(const std::string& shown);

// What opening or writing `shown` failed with, in words (kExitOutput):
// the in-use message for kSharingViolation, else "cannot write 'OUTPUT':
// disk full (...) (0x80070070)" ("cannot write standard output: ..." for
// "-").
OutputRefusal WriteFailure(const std::string& shown, kestrum::asf::Status status);

// The checks and the opening of an OUTPUT that a command writes itself
// (extract, generate: a stream; cut: an ASF file): "-" is standard output.
// Null, with `refused` set, when it is refused or cannot be opened.
std::unique_ptr<kestrum::asf::ByteSink> OpenCheckedOutput(const std::string& output,
                                                          const std::vector<std::string>& inputs,
                                                          Overwrite overwrite,
                                                          OutputRefusal& refused,
                                                          OutputKind kind = OutputKind::kStream);

}  // namespace kestrum_cli
