// Standard output, where a command writes its OUTPUT "-" or its report:
// what it may be given as an output, how its descriptors are kept at the
// program's start, and how a failure to write it is told.
#pragma once

#include <string>

namespace kestrum_cli {

// An OUTPUT of "-": standard output. Returns kExitOk with the name it is
// opened by (empty: written through the descriptor itself, where it cannot
// be opened by a name: a socket; only where `descriptor_ok`), kExitUsage
// for a terminal, or kExitOutput with `error` for what would lose bytes: a
// file opened for appending ('>>') or one that holds bytes already (an
// output must begin its file, and those bytes are not cut away), or a
// standard output that is closed.
int StandardOutput(bool descriptor_ok, std::string& name, std::string& error);

// At the program's start: a standard descriptor that is closed (0, 1 or
// 2) is given the end of a pipe of its own, so that no file the program
// opens takes its number (and gets the program's messages written into
// it); standard output found closed is then refused as an output.
void KeepStandardDescriptorsOpen();
// True when KeepStandardDescriptorsOpen found standard output closed.
bool StandardOutputWasClosed();

// After writing through StandardOutput's name: standard output's own offset
// is moved to the end of a file written so, so that whatever the shell
// writes next follows the output instead of overwriting it.
void EndStandardOutput();

// True, with `error` set, when standard output is a terminal: the program
// writes no binary data to one.
bool StandardOutputIsTerminal(std::string& error);


// Standard output could not be written (a full disk, a descriptor closed,
// a write error): says so once, with the cause in words, and returns
// kExitOutput (later calls only return it). A reader that went away (a
// broken pipe: `kestrum inspect ... | head`) wanted no more, and is no
// failure: kExitOk. Call it right after the write or flush that failed,
// while errno holds the cause.
int StandardOutputFailed(const std::string& command);
// The same for a failure whose cause, `error`, was kept. With `data` the
// bytes were the command's product (inspect --masked): a reader that went
// away cut them short, and that fails too.
int StandardOutputFailed(const std::string& command, int error, bool data = false);
// fflush(stdout) for a line that should be seen at once; the cause of a
// failure is kept for FinishStandardOutput.
void FlushStandardOutput();
// At the end of every command: standard output flushed and closed; a
// failure to write any of it that was not told yet is told
// (StandardOutputFailed). Returns `code`, or kExitOutput in place of kExitOk.
int FinishStandardOutput(const std::string& command, int code);

}  // namespace kestrum_cli
