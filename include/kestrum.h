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
 *    ReleaseRecordInstance. One instance records one file, or a series of
 *    files cut at groups that may start a recording (KestrumSwitchOutput);
 *  - file: TransferToAsf converts a stored stream in one call, pulling its
 *    packets from the packet-source library (quarnel.h).
 *
 * Reporting: the results below. The live road returns nothing: what happened
 * shows in the output file, in the library's diagnostic lines
 * (docs/diagnostics.md), which go to the debugger output on Windows and to
 * the sink attached with KestrumSetDebugOutput elsewhere, and, for one
 * recording, in its stats (KestrumGetRecordStats: state, failing statuses in
 * words with KestrumDescribeStatus, samples and bytes written, losses) and its
 * own lines (KestrumSetRecordDebugOutput). KestrumTransferToAsfEx converts
 * with progress, a stop and stats.
 *
 * Durability: the built-in writer keeps a live recording's file durable
 * while writing: what SendOneFrame handed over is on stable storage about
 * one second later (KestrumSetSyncInterval), without the caller's thread
 * waiting for the disk.
 *
 * Threading: the library runs every call, and every callback, on the
 * caller's thread; the only thread it starts is the built-in writer's sync
 * thread, one for the whole process, started when the first live recording
 * writes a file with a sync interval (KestrumSetSyncInterval) and kept until
 * the process exits or the library is unloaded. It syncs the recordings'
 * files and nothing else, ends each durably after StopRecord (not on
 * Windows), and may call a recording's sink (KestrumSetRecordDebugOutput)
 * with a failing sync's line of that recording; ReleaseRecordInstance
 * returns once it is done with the recording's files. Calls for one instance must not
 * overlap: drive an instance from one thread at a time (or serialise the
 * calls yourself), and never call StopRecord or ReleaseRecordInstance while
 * a SendOneFrame of the same instance runs. Different instances share
 * nothing and may be driven from different threads at once. TransferToAsf works on one instance that
 * the library keeps for the whole process: at most one TransferToAsf runs at
 * a time in a process (to convert in parallel, use several processes).
 *
 * Calling convention: the fourteen functions of the 32-bit Windows DLL, and
 * the callbacks they take, are __stdcall (KESTRUM_CALL), exported by
 * undecorated name at ordinals 1 to 14; link Kestrum.lib (MSVC) or
 * libkestrum.dll.a (mingw-w64), or resolve them at run time by name or
 * ordinal. Elsewhere they are plain C functions. No C++ exception leaves any
 * of them; none may leave a callback.
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
 * reassembly buffer, whose pages are taken from the system only as the
 * groups held need them) and returns its handle, or null when it could not be
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
 * (not a pipe or device), the built-in writer's sync thread (one for all
 * recordings of the process) has the
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

/* Ordinal 9 on Windows. The library's version as loaded, "MAJOR.MINOR.PATCH"
 * (a static string, never null): what KESTRUM_VERSION_* said when the library
 * was built, whatever header the host was built with. Safe from any thread
 * at any time. */
KESTRUM_API const char* KESTRUM_CALL KestrumGetVersion(void);

/* Ordinal 10 on Windows. A status the library returned or recorded, in
 * words ("disk full (or the file size limit reached)" for 0x80070070, "no
 * such file or folder" for 0x80070002 and 0x80070003, ...): the table the
 * kestrum program tells its failures with. TransferToAsf's 0 is "the input
 * could not be opened" and its 1 "done"; a status not in the table gets "an
 * error the program does not know". Writes the words into `text`, cut to
 * `capacity` bytes with the terminating zero (nothing when `text` is null or
 * `capacity` is 0 or less), and returns the length of the whole words
 * without the zero: a result of `capacity` or more means they were cut.
 * Safe from any thread at any time, callbacks included. */
KESTRUM_API int32_t KESTRUM_CALL KestrumDescribeStatus(int32_t status, char* text,
                                                       int32_t capacity);

/* The states of KestrumRecordStats. */
#define KESTRUM_STATE_NO_NAME 0   /* no output name yet (StartRecord) */
#define KESTRUM_STATE_WAITING 1   /* for the header, the writer or a group that may start */
#define KESTRUM_STATE_RECORDING 2 /* groups go to the writer */
#define KESTRUM_STATE_ENDED 3     /* StopRecord ended it; a conversion is over, its file ended */
#define KESTRUM_STATE_FAILED 4    /* the writer cannot go on, or the conversion failed */

/* What KestrumTransferToAsfEx returns when its progress callback stopped it:
 * HRESULT_FROM_WIN32(ERROR_CANCELLED). */
#define KESTRUM_E_CANCELLED ((int32_t)0x800704C7)

/* What one recording has done so far (KestrumGetRecordStats), or one
 * conversion. The caller sets struct_size; the library fills the rest of the
 * structure as far as struct_size reaches and leaves struct_size as it is.
 * Later versions only add fields at the end. */
typedef struct KestrumRecordStats {
  uint32_t struct_size; /* set by the caller: sizeof(KestrumRecordStats) */
  /* KESTRUM_STATE_*: 0 no name yet; 1 waiting (for the header, the writer or
   * a group that may start the recording; a conversion: for its header); 2
   * recording; 3 ended (StopRecord ended the writer; a conversion returned 1
   * or was stopped by its progress callback); 4 failed: the writer's latest
   * write failed (the built-in writer goes on trying: the state goes back to
   * 2 when a sample gets through), or the conversion returned 0 or a
   * failure. A writer that could not be prepared leaves 1: the next piece
   * tries again. */
  int32_t state;
  /* The first and the latest failing status (an HRESULT; 0 if none) of the
   * output: a writer that could not be prepared (0x80070003: no such
   * folder), a write that failed (0x80070070: disk full; the built-in
   * writer records on meanwhile), a sync that failed, a sample the writer
   * refused, an end that failed, a conversion's failure. Words for it:
   * KestrumDescribeStatus. */
  int32_t first_failure;
  int32_t last_failure;
  /* Samples the writer took. A write fault may later cut away some it took
   * with the file's last packets: its "writer : ..." line says how many. */
  uint64_t samples_written;
  /* Bytes written to the output: the file's size as it grows (the muxer
   * holds up to a second of media before writing it), its size once ended;
   * the bytes written into a pipe, FIFO or device. With the platform's writer
   * on Windows, which tells nothing of its output: the bytes of the samples
   * handed to it. A recording cut into files (KestrumSwitchOutput): its files
   * together, as every count here is the recording's since it began. */
  uint64_t bytes_written;
  /* Of those, the bytes the last sync that worked made durable
   * (KestrumSetSyncInterval, KestrumSetTransferSync); 0 while nothing is
   * synced, and with the platform's writer. */
  uint64_t bytes_durable;
  /* The time of the last sample the writer took, in 100-ns units: the live
   * road's clock (counting on across the files of KestrumSwitchOutput, whose
   * own clocks start from 0), or the packet's time on the file road. */
  uint64_t media_time;
  /* Whole groups not written: before a group that may start the recording
   * (also after a malformed group, until the next one), malformed, cut off
   * when the reassembly buffer filled, too large for a live sample; on the
   * file road, groups whose blocks it cannot take. */
  uint64_t groups_dropped;
  /* Samples the writer refused (too large, no memory, a failed write). */
  uint64_t samples_refused;
  /* Input bytes in no group: skipped while searching for a group start (the
   * live road), or the packet source's skipped stretches (the file road).
   * The bytes of a dropped group count there, not here. */
  uint64_t bytes_in_no_group;
} KestrumRecordStats;

/* Ordinal 11 on Windows. Fills `stats` with what the recording of `handle`
 * has done so far; a null handle asks about the file road's latest (or
 * running) conversion. Returns 0, or E_INVALIDARG (0x80070057) for a null
 * `stats` or a struct_size smaller than this first version's. Safe from
 * another thread than the one driving the instance, while it runs (each
 * field is read on its own: two fields may be a moment apart); not once the
 * instance is released. */
KESTRUM_API int32_t KESTRUM_CALL KestrumGetRecordStats(KestrumHandle handle,
                                                       KestrumRecordStats* stats);

/* Ordinal 12 on Windows. The diagnostic lines of one recording also go to
 * `sink`, unchanged, one call a line, with `context` as given: the lines of
 * its calls (SendOneFrame, StopRecord, ReleaseRecordInstance), of its writer
 * and of the writer's own thread; a null handle: those of the file road
 * (TransferToAsf, KestrumTransferToAsfEx). Every line still goes to the
 * debugger output on Windows and to KestrumSetDebugOutput's sink elsewhere:
 * a sink per recording tells whose a line is. Null detaches; by default
 * there is none.
 *
 * The sink is called on whatever thread wrote the line (the host's, in its
 * call; the writer's, for a failing sync), with no lock held; the line is
 * valid during the call only. It must return quickly (it holds up the
 * recording) and must not throw (a C++ exception out of it loses the line).
 * It may call KestrumGetVersion, KestrumDescribeStatus and
 * KestrumGetRecordStats, and nothing else of the library.
 *
 * Replacing or detaching is final: once this function returns, the sink it
 * replaced is not running and is never called again, so its context may be
 * freed then (it waits for calls under way on other threads; a sink must
 * therefore never replace its own). ReleaseRecordInstance detaches it. */
KESTRUM_API void KESTRUM_CALL KestrumSetRecordDebugOutput(
    KestrumHandle handle, void(KESTRUM_CALL* sink)(const char* line, void* context),
    void* context);

/* What KestrumTransferToAsfEx is asked for besides the conversion. */
typedef struct KestrumTransferOptions {
  uint32_t struct_size; /* set by the caller: sizeof(KestrumTransferOptions) */
  /* Nonzero: the file is made durable as it ends, before the call returns,
   * as KestrumSetTransferSync(1) does, for this call; 0: as
   * KestrumSetTransferSync says. Not with the platform's writer. */
  int32_t sync;
  /* May be null. Called on the caller's thread, inside the call, at least
   * every 4 MiB of input or 250 ms (as often as packets come), and once at
   * the end of the stream with bytes_read == bytes_total. bytes_read: how far
   * the packet source has handed out the stream; bytes_total: the stream's
   * size, for the packet source that comes with Kestrum (`source` a path; 0
   * when not known, as for a FIFO, until the end). samples_written: as in
   * KestrumRecordStats.
   *
   * A nonzero result stops the conversion: the file is ended with what it
   * holds (a whole, indexed file), the source is closed, and the call
   * returns KESTRUM_E_CANCELLED (0x800704C7). It may block (the conversion
   * waits), call KestrumGetRecordStats (a null handle), KestrumDescribeStatus,
   * KestrumGetVersion, KestrumSetRecordDebugOutput and the live road's
   * functions for its own instances; it must not start a conversion
   * (TransferToAsf, KestrumTransferToAsfEx) and must not throw (a C++
   * exception out of it stops the conversion). */
  int32_t(KESTRUM_CALL* progress)(uint64_t bytes_read, uint64_t bytes_total,
                                  uint64_t samples_written, void* context);
  void* context; /* handed to progress */
} KestrumTransferOptions;

/* Ordinal 13 on Windows. TransferToAsf with `options` (null: exactly as
 * TransferToAsf) and, when `stats` is not null, the conversion's stats at its
 * end (as KestrumGetRecordStats with a null handle; also after a failure).
 * Returns what TransferToAsf returns, KESTRUM_E_CANCELLED when the progress
 * callback stopped it, or E_INVALIDARG (0x80070057), without converting, for
 * an `options` or a `stats` whose struct_size is smaller than this first
 * version's. Shares TransferToAsf's one instance: at most one conversion at
 * a time in a process. */
KESTRUM_API int32_t KESTRUM_CALL KestrumTransferToAsfEx(intptr_t source, const char* destination,
                                                        const KestrumTransferOptions* options,
                                                        KestrumRecordStats* stats);

/* Ordinal 14 on Windows. From the next group that may start a recording,
 * the recording of `handle` goes on in the file `next_file_name` (copied;
 * named as for StartRecord), without the host stopping, releasing or
 * resending anything: the current file is ended as StopRecord ends it, and
 * that group and every one after it go to the new file, which gets the
 * stream header last received, the same attributes and the recording's own
 * sync interval (the one its first file began with, whatever
 * KestrumSetSyncInterval says now), its clock from 0. No group is lost or
 * written twice: each file begins with a group that may start a recording,
 * at time 0, and together the files hold exactly the samples of one
 * recording made without switching. A file prepared but not reached by any
 * group (a switch before the first group that may start) is ended empty.
 *
 * Give each file a name of its own: the name of the file being written (or
 * another name of that same file, where the system tells) is refused with
 * E_INVALIDARG, since going on in it would rewrite what it holds.
 *
 * Before writing began (the first data piece prepares the output), it only
 * replaces the name, as StartRecord would with a copy. Called again before
 * the switch is made, the later name wins. When the new file cannot be
 * begun (no such folder, a full disk), the recording has no file: its stats
 * record the status (first_failure, last_failure; state 1) and the writer
 * says "writer : the file could not be begun (0x...)"; every group is
 * dropped (counted in groups_dropped) until the next group that may start
 * a recording, which tries the same name again (or a later one given
 * meanwhile); StopRecord ends the wait. The writer of a file ended by a
 * switch finishes making its end durable on the writer's thread; the next
 * switch, ReleaseRecordInstance or the process's exit waits for it if it
 * is still running.
 *
 * The recording's stats count on across its files: samples_written,
 * bytes_written (the files' sizes together), bytes_durable and media_time
 * (the time of the last sample as if the files were one recording) are
 * those of the recording since it began.
 *
 * Returns 0; E_INVALIDARG (0x80070057) for a null handle, a null name, one
 * longer than 259 bytes or the file being written (nothing changes); E_UNEXPECTED (0x8000FFFF)
 * after StopRecord (nothing changes); E_OUTOFMEMORY (0x8007000E). Call it
 * as the instance's other functions: never while a SendOneFrame of the
 * same instance runs on another thread. */
KESTRUM_API int32_t KESTRUM_CALL KestrumSwitchOutput(KestrumHandle handle,
                                                     const char* next_file_name);

#if !defined(_WIN32)
/* Not on Windows, where the lines go to the debugger output
 * (OutputDebugStringA). Attaches the sink that receives every diagnostic
 * line of the library: one call per line, with the line's bytes exactly as
 * written (ASCII, one line in GBK; no line ending added, two lines end in
 * "\r\n" or "\n" of their own) and `context` as given. The sink is shared by
 * the whole process, called on the thread that runs the library call (a
 * failing sync's line on the writer's own thread), with no lock held; the line is valid during the call only. It must return
 * quickly and must not call the library (but KestrumGetVersion,
 * KestrumDescribeStatus and KestrumGetRecordStats), nor throw.
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
