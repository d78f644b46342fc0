/* Kestrum: packs an already-compressed "XQV4" video stream into ASF files.
 *
 * Two ways in:
 *  - live: CreateRecordInstance, StartRecord, SendOneFrame (the 40-byte stream
 *    header as a piece of its own, then the stream in pieces of any size),
 *    StopRecord, ReleaseRecordInstance;
 *  - file: TransferToAsf converts a stored stream in one call, pulling its
 *    packets from the packet-source library.
 *
 * Threading: the library starts no threads. Drive one instance from one thread
 * at a time; run at most one TransferToAsf at a time in a process. Different
 * instances share nothing.
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

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handle of one live recording. */
typedef struct KestrumRecordInstance* KestrumHandle;

/* Ordinal 1. A new recording instance, or null when none could be made. */
KESTRUM_API KestrumHandle KESTRUM_CALL CreateRecordInstance(void);

/* Ordinal 2. Destroys the instance whose handle is stored at *handle and
 * stores null there; does nothing when *handle (or handle) is null. Does not
 * end writing: call StopRecord first or the output file stays unended. */
KESTRUM_API void KESTRUM_CALL ReleaseRecordInstance(KestrumHandle* handle);

/* Ordinal 3. Hands one piece of the stream to the live road. A piece of
 * exactly 40 bytes is always taken as the stream header. A negative length,
 * or a null data pointer, acts as a piece of length 0. Nothing is reported;
 * failures show only as diagnostic lines. */
KESTRUM_API void KESTRUM_CALL SendOneFrame(KestrumHandle handle, const void* data, int32_t length);

/* Ordinal 4. Stores the pointer `file_name` (an ANSI, zero-terminated name of
 * the output file); the string is read when the first data piece arrives, so
 * keep it valid and unchanged until StopRecord. The two last arguments are not
 * read. Returns 1, or 0 when the handle is null. */
KESTRUM_API int32_t KESTRUM_CALL StartRecord(KestrumHandle handle, const char* file_name,
                                             int32_t reserved1, int32_t reserved2);

/* Ordinal 5. Ends writing of the output file when a writer exists. Bytes of a
 * group still incomplete at this point are not written. */
KESTRUM_API void KESTRUM_CALL StopRecord(KestrumHandle handle);

/* Ordinal 6. Converts the stored stream named by `source` (handed unchanged to
 * the packet source; for the bundled one, a pointer to a zero-terminated path)
 * into the ASF file `destination`. Returns 0 when the source could not be
 * opened, 1 when the conversion ran to its end, or a negative status code. */
KESTRUM_API int32_t KESTRUM_CALL TransferToAsf(intptr_t source, const char* destination);

#if !defined(_WIN32)
/* Attaches the sink that receives every diagnostic line (one call per line,
 * bytes exactly as written, without an added line ending). Null detaches; by
 * default lines are discarded. */
KESTRUM_API void KestrumSetDebugOutput(void (*sink)(const char* line, void* context),
                                       void* context);
#endif

#ifdef __cplusplus
}
#endif

#endif /* KESTRUM_H_ */
