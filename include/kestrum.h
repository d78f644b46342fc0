/* Kestrum: packs an already-compressed "XQV4" video stream into ASF files,
 * byte for byte. Nothing is decoded or re-encoded.
 *
 * The input stream is a 40-byte stream header followed by groups, one per
 * frame (docs/stream-format.md). The output is an ASF file with one video
 * stream, number 8, FOURCC "XQV4", whose samples carry the stream's blocks
 * behind a 32-byte sample header (docs/output-format.md).
 *
 * Two roads lead in:
 *  - live: CreateRecordInstance, StartRecord (the output name), SendOneFrame
 *    for every piece as it arrives (the 40-byte header as a piece of its own,
 *    then the stream in pieces of any size), StopRecord,
 *    ReleaseRecordInstance. One instance records one file;
 *  - file: TransferToAsf converts a stored stream in one call, pulling its
 *    packets from the packet-source library (quarnel.h).
 *
 * Reporting: only the results below. The live road returns nothing at all;
 * what happened shows in the output file and in the library's diagnostic
 * lines (docs/diagnostics.md), which go to the debugger output on Windows and
 * to the sink attached with KestrumSetDebugOutput elsewhere.
 *
 * Durability: the built-in writer keeps a live recording's file durable
 * while writing: what SendOneFrame handed over is on stable storage about
 * one second later (KestrumSetSyncInterval), without the caller's thread
 * waiting for the disk.
 *
 * Threading: the library runs every call on the caller's thread; the only
 * thread it starts is the built-in writer's, one per live recording while it
 * writes a file with a sync interval (KestrumSetSyncInterval), which syncs
 * the file and nothing else, ends it durably after StopRecord (not on
 * Windows), and is gone by the time ReleaseRecordInstance returns. Calls for one instance must not
 * overlap: drive an instance from one thread at a time (or serialise the
 * calls yourself), and never call StopRecord or ReleaseRecordInstance while
 * a SendOneFrame of the same instance runs. Different instances share
 * nothing and may be driven from different threads at once. TransferToAsf works on one instance that
 * the library keeps for the whole process: at most one TransferToAsf runs at
 * a time in a process (to convert in parallel, use several processes).
 *
 * Calling convention: the eight functions of the 32-bit Windows DLL are
 * __stdcall (KESTRUM_CALL), exported by undecorated name at ordinals 1 to 8;
 * link Kestrum.lib (MSVC) or libkestrum.dll.a (mingw-w64), or resolve them
 * at run time by name or ordinal.
 * Elsewhere they are plain C functions. No C++ exception leaves any of them.
 */
#ifndef KESTRUM_H_
#define KESTRUM_H_

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define KESTRUM_CALL __stdcall
#else
#define KESTRUM_CALL
#endif

#if defined(_WIN32)
#if defined(KESTRUM_BUILDING_LIBRARY)
#define KESTRUM_API
#else
#define KESTRUM_API __declspec(dllimport)
#endif
#elif defined(KESTRUM_BUILDING_LIBRARY)
#define KESTRUM_API __attribute__((visibility("default")))
#else
#define KESTRUM_API
#endif

/* The version of this header and of the library built with it, the
 * project's version (CHANGELOG.md records each one and the SONAME rule). */
#define KESTRUM_VERSION_MAJOR 0
#define KESTRUM_VERSION_MINOR 1
#define KESTRUM_VERSION_PATCH 0

/* Size of the stream header. A piece of exactly this size handed to
 * SendOneFrame is always taken as a stream header. */
#define KESTRUM_HEADER_SIZE 40

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle of one live recording: the instance's address. */
typedef struct KestrumRecordInstance* KestrumHandle;

/* Ordinal 1. Makes a new recording instance (with its 1,024,000-byte
 * reassembly buffer) and returns its handle, or null when it could not be
 * allocated; then nothing is left behind. The instance owns no file yet.
 * On Windows, COM is initialised (apartment-threaded) on the calling thread. */
KESTRUM_API KestrumHandle KESTRUM_CALL CreateRecordInstance(void);

/* Ordinal 2. `handle` is the address of the host's handle variable. When
 * *handle is not null, destroys that instance, frees its memory and stores
 * null in *handle; when handle or *handle is null, does nothing (so a second
 * call with the same variable is harmless).
 *
 * It does not end writing: release an instance without StopRecord and its
 * file stays unended (readable up to its last complete data packet, but
 * without index, duration or final sizes). After StopRecord it waits, if
 * need be, for the writer's thread to make the file's end durable (not on
 * Windows; KestrumSetSyncInterval). The handle must not be used again, and no other
 * call for this instance may be running. */
KESTRUM_API void KESTRUM_CALL ReleaseRecordInstance(KestrumHandle* handle);

/* Ordinal 3. Hands one piece of the stream to the live road. The bytes are
 * read during the call only: the host may reuse its buffer when it returns.
 *
 *  - A piece of exactly KESTRUM_HEADER_SIZE (40) bytes is always taken as the
 *    stream header, whenever it comes, and goes nowhere else: send the header
 *    as a piece of its own, first, and never send a data piece of exactly 40
 *    bytes (split it, e.g. 39 + 1). A refused header writes "Wrong File
 *    header!". A header sent while writing replaces the stored one (which
 *    decides which groups may start a recording) but not the file's format.
 *  - Any other piece first has the output prepared, once: the file named by
 *    StartRecord is created, its format taken from the header last received
 *    (so send the header first: without one the file describes a 0 x 0
 *    picture), and writing begins. When that fails (no StartRecord yet, a
 *    name longer than 259 bytes, a file that cannot be created), the piece is
 *    dropped with "Not ready for Kestrum!" and the next piece tries again.
 *  - Then the piece joins the stream: pieces may cut the stream anywhere; the
 *    library finds whole groups itself, keeps an unfinished one until later
 *    pieces complete it, skips bytes that belong to no group, waits for a
 *    group that may start a recording, and from then on writes every group,
 *    40 ms apart, in the call that brings its last byte.
 *  - A negative length, or a null data pointer, acts as a piece of length 0.
 *    A null handle does nothing.
 *
 * Nothing is reported to the host; failures show only as diagnostic lines.
 * After a malformed group the call pauses the calling thread for 200 ms.
 * Pieces sent after StopRecord are not recorded. */
KESTRUM_API void KESTRUM_CALL SendOneFrame(KestrumHandle handle, const void* data, int32_t length);

/* Ordinal 4. Names the output file: stores the pointer `file_name` (a
 * zero-terminated name in the system's ANSI code page; UTF-8 on Linux)
 * itself, not a copy. Copies, checks and opens nothing, and returns 1; with a
 * null handle returns 0 and does nothing.
 *
 * The name is read through the stored pointer when the first data piece
 * prepares the output, so the host keeps the string valid and unchanged
 * until StopRecord; a string changed before the first data piece names the
 * file. A name longer than 259 bytes is refused then (every data piece is
 * dropped with "Not ready for Kestrum!"), never cut. The output is written
 * through, never removed or replaced: an existing file is rewritten in
 * place, a symlink's target is written (one that points nowhere makes it),
 * and an output that cannot seek (a pipe, a FIFO, a device) gets a stream
 * written front to back: header first, Broadcast set, no sizes, duration or
 * index. An output another writer has (or a conversion is reading) is not
 * touched: every data piece is dropped with "Not ready for Kestrum!", also
 * after the other is done. Once writing has begun, a further StartRecord
 * with a name changes nothing. `reserved1` and `reserved2` are not read.
 *
 * A write failure (a full disk, a file size limit) never stops the
 * recording: the file is cut back to its last whole sample, samples that
 * cannot be written are dropped, each later one is tried again, and writing
 * resumes when there is room (the file then has a gap in time and nothing
 * else wrong). The writer tells of it on the diagnostic lines: one line when
 * writing fails (with the error), one when it works again or the recording
 * ends (samples and media time lost); see docs/diagnostics.md. So does every
 * sample the writer refuses (one of 16 MiB or more, one it has no memory
 * for): the recording goes on without it. */
KESTRUM_API int32_t KESTRUM_CALL StartRecord(KestrumHandle handle, const char* file_name,
                                             int32_t reserved1, int32_t reserved2);

/* Ordinal 5. Ends writing when the output was prepared: buffered data goes
 * out, the index is appended and the file's sizes and duration are filled
 * in (with a sync interval, the last of it, that the file ended, once its
 * packets are durable: KestrumSetSyncInterval). Bytes of a group still unfinished at this point are not written. The
 * instance stays as it is (release it with ReleaseRecordInstance); it does
 * not start another file, and pieces sent afterwards are not recorded.
 * A null handle, an instance whose output was never prepared, or a second
 * call, does nothing more. */
KESTRUM_API void KESTRUM_CALL StopRecord(KestrumHandle handle);

/* Ordinal 6. Converts a stored stream into the ASF file `destination` (a
 * zero-terminated ANSI name; UTF-8 on Linux; written through as StartRecord
 * says: a file rewritten in place, never removed) in one call. While it
 * reads the stream, the packet source holds it so that no writer can take
 * it: a `destination` that is the source fails with 0x80070020 and the
 * source stays whole. `source` goes unchanged to the packet-source library's
 * QuarnelOpenFile; for the one that comes with Kestrum it is a pointer to the
 * stream's zero-terminated path, cast to intptr_t.
 *
 * Every group becomes samples at the group's own time. When the stream ends,
 * the file is ended and indexed and the writer is given back: the next call
 * starts a fresh file. What is not written says so on the diagnostic lines
 * and leaves the result 1: a group whose block count field the file road
 * cannot take ("processpacket : ... not written"), a sample the writer
 * refuses ("writer : sample refused (sample over 16 MiB): ...", or out of
 * memory); see docs/diagnostics.md.
 *
 * Returns:
 *   1         the conversion ran to its end and the file is complete;
 *   0         the packet source could not open `source`; nothing written;
 *   negative  a failure status (an HRESULT), e.g. 0x80004005 the stream's
 *             header was refused, 0x800700CE `destination` is longer than
 *             259 bytes, 0x80004003 `destination` is null, 0x80070002 /
 *             0x80070005 the file could not be created (missing folder, no
 *             permission), 0x80070004 no file descriptor was left to open
 *             it with (too many open files), 0x80070020 another writer has it (or it is being
 *             read: the source itself), 0x80070070 the disk filled (or the
 *             index did not fit), 0x8007001E the stream could not be read
 *             to its end, 0x8007000E out of memory. After a write or read failure the file is ended in
 *             place, as a whole, indexed file of every sample before it
 *             (the index only where there was room for it).
 * A packet source that hands out no header packet at all ends with 1 and no
 * file.
 *
 * Runs entirely on the calling thread and returns when the conversion is
 * over. All calls share one instance: never run two at once in a process. */
KESTRUM_API int32_t KESTRUM_CALL TransferToAsf(intptr_t source, const char* destination);

/* Ordinal 7 on Windows. Sets how far, in milliseconds, a live recording's
 * durability may lag behind what the host handed over: while writing a file
 * (not a pipe or device), a thread of the built-in writer's own has the
 * system write the file back as samples go out and syncs it (fdatasync on
 * Linux, FlushFileBuffers on Windows) at most that long after bytes reached
 * it, so after a power cut the file holds what was handed over until about
 * that long before (plus the second of media the writer may still hold,
 * docs/output-format.md). StopRecord ends the file without waiting for the
 * disk: that thread then syncs the packets, has the header say the file
 * ended (until then it says all but that, and readers find every sample and
 * the index) and syncs that too; ReleaseRecordInstance, or the process's
 * exit, waits for it if it is still running. On Windows, where a file held
 * open cannot be moved, StopRecord does that itself, waiting for those two
 * syncs, so the file is closed when it returns. The file stays readable
 * wherever it is cut: its Data Object states its own size while writing,
 * and after a power cut `kestrum repair` ends it. 0 turns syncing off (the
 * system writes back when it likes: after a power cut tens of seconds may
 * be missing); the default is 1000.
 *
 * Process-wide; a recording takes the interval in force when its output is
 * prepared (its first data piece) and keeps it. TransferToAsf never syncs
 * while it converts (a conversion can be run again; KestrumSetTransferSync).
 * Returns the interval before the call; a negative value changes nothing, so
 * -1 reads it. Safe from any thread at any
 * time. A failing sync never stops the recording: it writes "writer : sync
 * failed (0x...); ..." (docs/diagnostics.md), on the writer's thread. With the
 * platform's writer on Windows (not the built-in one) it changes nothing and
 * returns 0. */
KESTRUM_API int32_t KESTRUM_CALL KestrumSetSyncInterval(int32_t milliseconds);

/* Ordinal 8 on Windows. With `on` 1, each file TransferToAsf writes is made
 * durable before TransferToAsf returns: its packets and index are synced
 * before the header says the file ended, and the header after, so that after
 * a power cut the file is either whole or one that `kestrum repair` ends
 * (docs/output-format.md); nothing is synced while the conversion runs. 0
 * (the default) syncs nothing: the system writes the file back when it
 * likes, and a conversion cut by a power cut is run again. Process-wide,
 * taken when a conversion's output is prepared. Returns the setting before
 * the call; a negative value changes nothing, so -1 reads it. With the
 * platform's writer on Windows it changes nothing and returns 0. */
KESTRUM_API int32_t KESTRUM_CALL KestrumSetTransferSync(int32_t on);

#if !defined(_WIN32)
/* Not on Windows, where the lines go to the debugger output
 * (OutputDebugStringA). Attaches the sink that receives every diagnostic
 * line of the library: one call per line, with the line's bytes exactly as
 * written (ASCII, one line in GBK; no line ending added, two lines end in
 * "\r\n" or "\n" of their own) and `context` as given. The sink is shared by
 * the whole process, called on the thread that runs the library call (a
 * failing sync's line on the writer's own thread), with no lock held; the line is valid during the call only. It must return
 * quickly and must not call the library (its six functions, nor this one).
 * Null detaches; by default lines are discarded.
 *
 * Replacing or detaching is final: once this function returns, the sink it
 * replaced is not running and is never called again, whatever other threads
 * are doing, so its context may be freed then. It waits for calls of the
 * old sink still under way on other threads to return; lines written while
 * the sinks change may go to neither. */
KESTRUM_API void KestrumSetDebugOutput(void (*sink)(const char* line, void* context),
                                       void* context);
#endif

#ifdef __cplusplus
}
#endif

#endif /* KESTRUM_H_ */
