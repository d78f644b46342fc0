/* A host program, written as a host application would be: it loads the
 * library at run time (LoadLibrary on Windows, dlopen elsewhere), resolves
 * its fourteen exports (on Windows by name and by ordinal, which must agree),
 * records a generated stream through the live road, with a line sink and
 * stats of the recording's own, and converts the same stream, stored in a
 * file, through TransferToAsf and again through KestrumTransferToAsfEx, with
 * progress and stats.
 *
 * Usage, in the folder where the files go:
 *   kestrum_host write  KESTRUM_LIBRARY QUARNEL_LIBRARY
 *   kestrum_host refuse KESTRUM_LIBRARY QUARNEL_LIBRARY
 *
 * write: both roads must produce their file (live.asf, file.asf). Beside each
 * the program leaves what a reader must find in it, worked out from the
 * stream alone: ROAD.packets (one line "time_ms,size" per sample) and
 * ROAD.payload (the samples' bytes back to back), for
 * check_host_outputs.sh to compare with what ffprobe reads.
 *
 * Either way every diagnostic line the library wrote goes to diagnostics.txt,
 * one a line, in order, so that builds can be compared (compare_builds.sh).
 *
 * refuse: the writer cannot be made (a WM runtime whose writer is only
 * stubs): every data piece of the live road is dropped with "Not ready for
 * Kestrum!" (the recording's stats keep the failing status), TransferToAsf
 * returns a failure status, and neither file is left behind.
 *
 * Exit status 0 when every expectation held; each failure is printed. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kestrum.h"
#include "quarnel.h"

#ifdef _WIN32
#include <windows.h>
typedef HMODULE Library;
#else
#include <dlfcn.h>
#include <unistd.h>
typedef void* Library;
#endif

/* Any function, as resolved; cast to its own type before it is called. */
typedef void (*AnyFunction)(void);
typedef KestrumHandle(KESTRUM_CALL* CreateRecordInstanceFn)(void);
typedef void(KESTRUM_CALL* ReleaseRecordInstanceFn)(KestrumHandle*);
typedef void(KESTRUM_CALL* SendOneFrameFn)(KestrumHandle, const void*, int32_t);
typedef int32_t(KESTRUM_CALL* StartRecordFn)(KestrumHandle, const char*, int32_t, int32_t);
typedef void(KESTRUM_CALL* StopRecordFn)(KestrumHandle);
typedef int32_t(KESTRUM_CALL* TransferToAsfFn)(intptr_t, const char*);
typedef int32_t(KESTRUM_CALL* SetSyncIntervalFn)(int32_t);
typedef const char*(KESTRUM_CALL* GetVersionFn)(void);
typedef int32_t(KESTRUM_CALL* DescribeStatusFn)(int32_t, char*, int32_t);
typedef int32_t(KESTRUM_CALL* GetRecordStatsFn)(KestrumHandle, KestrumRecordStats*);
typedef void(KESTRUM_CALL* RecordLineSink)(const char*, void*);
typedef void(KESTRUM_CALL* SetRecordDebugOutputFn)(KestrumHandle, RecordLineSink, void*);
typedef int32_t(KESTRUM_CALL* TransferToAsfExFn)(intptr_t, const char*,
                                                 const KestrumTransferOptions*,
                                                 KestrumRecordStats*);
typedef int32_t(KESTRUM_CALL* SwitchOutputFn)(KestrumHandle, const char*);
typedef int32_t(QUARNEL_CALL* QuarnelOpenFileFn)(int32_t, intptr_t);
typedef int32_t(QUARNEL_CALL* QuarnelGetPacketFn)(int32_t, PacketRecord*);
typedef int32_t(QUARNEL_CALL* QuarnelEndStreamFn)(int32_t);
typedef int32_t(QUARNEL_CALL* QuarnelGetPositionFn)(int32_t, uint64_t*);

static int g_failures = 0;

static void Fail(const char* what, long value) {
  printf("FAIL: %s (%ld)\n", what, value);
  ++g_failures;
}

static void Check(int holds, const char* what, long value) {
  if (!holds) Fail(what, value);
}

/* ---- little-endian fields ---- */

static void Put16(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}

static void Put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}

static uint32_t Get16(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }

static uint32_t Get32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* ---- a growable byte buffer ---- */

typedef struct Bytes {
  uint8_t* data;
  size_t size;
  size_t capacity;
} Bytes;

static uint8_t* Grow(Bytes* b, size_t more) {
  if (b->size + more > b->capacity) {
    size_t capacity = b->capacity ? b->capacity : 4096;
    while (capacity < b->size + more) capacity *= 2;
    b->data = (uint8_t*)realloc(b->data, capacity);
    if (b->data == NULL) {
      printf("out of memory\n");
      exit(2);
    }
    b->capacity = capacity;
  }
  b->size += more;
  return b->data + b->size - more;
}

/* ---- the generated stream ---- */

static uint32_t g_generator = 0x2545F491u; /* generator state */

static uint32_t Next(void) {
  g_generator = g_generator * 1664525u + 1013904223u;
  return g_generator >> 8;
}

enum { kHeaderSize = 40, kGroupHeaderSize = 48, kBlockHeaderSize = 20, kGroups = 80 };
enum { kWidth = 352, kHeight = 288 };

/* A 40-byte stream header (explicit picture size) and kGroups groups of one
 * to four blocks of every kind, a key group every 12th, with a stretch of
 * bytes that belong to no group before group 17. */
static void GenerateStream(Bytes* stream) {
  uint8_t* header = Grow(stream, kHeaderSize);
  int g;
  memset(header, 0, kHeaderSize);
  Put32(header + 0, 1);
  Put32(header + 8, 0x20050101u);
  Put16(header + 16, 0x1001);
  Put16(header + 18, 0x1001);
  Put16(header + 22, 8);
  Put32(header + 24, 64000);
  Put16(header + 28, kWidth);
  Put16(header + 30, kHeight);
  for (g = 0; g < kGroups; ++g) {
    const uint32_t blocks = 1 + Next() % 4;
    uint8_t* group;
    uint32_t b;
    if (g == 17) memset(Grow(stream, 13), 0xEE, 13);
    group = Grow(stream, kGroupHeaderSize);
    memset(group, 0, kGroupHeaderSize);
    Put32(group + 0, 1);
    Put32(group + 4, 0x1000u + (uint32_t)g + 1);
    Put32(group + 12, 0x1001);
    Put32(group + 16, 0x1000u + blocks);
    Put32(group + 24, g % 12 == 0 ? 0x1001u : 0x1003u);
    Put32(group + 28, 0x1000u + (uint32_t)(g % 7));
    Put32(group + 32, Next());
    Put32(group + 36, Next());
    Put32(group + 40, Next());
    for (b = 0; b < blocks; ++b) {
      const uint32_t kind = 0x1001 + Next() % 5;
      const uint32_t length = g == 30 && b == 0 ? 70000 : Next() % 6000;
      uint8_t* block = Grow(stream, kBlockHeaderSize + length);
      uint32_t i;
      memset(block, 0, kBlockHeaderSize);
      Put16(block + 0, kind);
      Put32(block + 4, Next());
      Put32(block + 16, length);
      for (i = 0; i < length; ++i) block[kBlockHeaderSize + i] = (uint8_t)Next();
    }
  }
}

static int IsVideoKind(uint32_t kind) { return kind >= 0x1003 && kind <= 0x1005; }

/* Appends to `out` the samples one group makes: `only_video` (live road)
 * packs the video blocks, otherwise (file road) all blocks; each sample is
 * a 32-byte sample header and those blocks. Appends "time_ms,size" lines to
 * `packets`, the live road's times running on from *live_ms by 40 each.
 * Returns the number of samples. */
static uint32_t ExpectSamples(const uint8_t* group, int only_video, uint32_t time_ms,
                              uint32_t* live_ms, Bytes* out, FILE* packets) {
  const uint32_t blocks = Get32(group + 16) - 0x1000u;
  const uint8_t* cursor = group + kGroupHeaderSize;
  uint32_t count = 0, size = 0, b, k;
  for (b = 0; b < blocks; ++b) {
    const uint32_t length = kBlockHeaderSize + Get32(cursor + 16);
    if (!only_video || IsVideoKind(Get16(cursor))) {
      ++count;
      size += length;
    }
    cursor += length;
  }
  for (k = 1; k <= count; ++k) {
    uint8_t* sample = Grow(out, 32 + size);
    cursor = group + kGroupHeaderSize;
    Put32(sample + 0, count);
    Put32(sample + 4, k);
    memcpy(sample + 8, group + 24, 4);
    memcpy(sample + 12, group + 32, 4);
    memcpy(sample + 16, group + 36, 4);
    memcpy(sample + 20, group + 40, 4);
    Put32(sample + 24, Get32(group + 28) - 0x1000u);
    Put32(sample + 28, 1);
    sample += 32;
    for (b = 0; b < blocks; ++b) {
      const uint32_t length = kBlockHeaderSize + Get32(cursor + 16);
      if (!only_video || IsVideoKind(Get16(cursor))) {
        memcpy(sample, cursor, length);
        sample += length;
      }
      cursor += length;
    }
    if (only_video) {
      time_ms = *live_ms;
      *live_ms += 40;
    }
    fprintf(packets, "%u,%u\n", (unsigned)time_ms, (unsigned)(32 + size));
  }
  return count;
}

static void SaveFile(const char* name, const uint8_t* data, size_t size) {
  FILE* file = fopen(name, "wb");
  if (file == NULL || fwrite(data, 1, size, file) != size || fclose(file) != 0) {
    printf("cannot write %s\n", name);
    exit(2);
  }
}

static long FileSize(const char* name) {
  FILE* file = fopen(name, "rb");
  long size;
  if (file == NULL) return -1;
  size = fseek(file, 0, SEEK_END) == 0 ? ftell(file) : -1;
  fclose(file);
  return size;
}

static int FileExists(const char* name) {
  FILE* file = fopen(name, "rb");
  if (file == NULL) return 0;
  fclose(file);
  return 1;
}

/* ---- diagnostic lines ---- */

static long g_not_ready_lines = 0;
static long g_written_sample_lines = 0;
static long g_lines = 0;
static FILE* g_diagnostics = NULL;

static void CountLine(const char* line) {
  ++g_lines;
  fprintf(g_diagnostics, "%s\n", line);
  if (strcmp(line, "Not ready for Kestrum!") == 0) ++g_not_ready_lines;
  if (strcmp(line, "!!!!Write Sample!!!!") == 0) ++g_written_sample_lines;
}

/* The live recording's own sink: the lines of that recording only. */
static void KESTRUM_CALL CountRecordLine(const char* line, void* context) {
  (void)line;
  ++*(long*)context;
}

/* The conversion's progress: calls counted, the last one kept. */
typedef struct Progress {
  long calls;
  uint64_t read, total, samples;
} Progress;

static int32_t KESTRUM_CALL TakeProgress(uint64_t read, uint64_t total, uint64_t samples,
                                         void* context) {
  Progress* progress = (Progress*)context;
  ++progress->calls;
  progress->read = read;
  progress->total = total;
  progress->samples = samples;
  return 0;
}

#ifdef _WIN32
/* OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the line before it
 * handles it itself: a vectored handler sees every line. */
static LONG CALLBACK SeeDebugString(EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
    CountLine((const char*)record->ExceptionInformation[1]);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}
#else
static void SeeDebugLine(const char* line, void* context) {
  (void)context;
  CountLine(line);
}
typedef void (*SetDebugOutputFn)(void (*)(const char*, void*), void*);
#endif

/* ---- loading ---- */

static Library Load(const char* path) {
#ifdef _WIN32
  Library library = LoadLibraryA(path);
#else
  Library library = dlopen(path, RTLD_NOW);
#endif
  if (library == NULL) {
    printf("cannot load %s\n", path);
    exit(2);
  }
  return library;
}

/* The export `name`; on Windows it must also be the export at `ordinal`. */
static AnyFunction Resolve(Library library, const char* name, int ordinal) {
#ifdef _WIN32
  FARPROC by_name = GetProcAddress(library, name);
  FARPROC by_ordinal = GetProcAddress(library, MAKEINTRESOURCEA(ordinal));
  printf("export %-22s ordinal %d: %s\n", name, ordinal,
         by_name != NULL && by_name == by_ordinal ? "ok" : "MISMATCH");
  if (by_name == NULL || by_name != by_ordinal) {
    Fail("export by name and by ordinal", ordinal);
    exit(1);
  }
  return (AnyFunction)by_name;
#else
  void* symbol = dlsym(library, name);
  AnyFunction function;
  (void)ordinal;
  if (symbol == NULL) {
    printf("no export %s\n", name);
    exit(1);
  }
  memcpy(&function, &symbol, sizeof function); /* POSIX: a function's address */
  return function;
#endif
}

/* Nothing beyond the listed exports is reachable. */
static void CheckNothingElseExported(Library library, int last_ordinal) {
#ifdef _WIN32
  Check(GetProcAddress(library, MAKEINTRESOURCEA(last_ordinal + 1)) == NULL,
        "an export past the last ordinal", last_ordinal + 1);
  Check(GetProcAddress(library, "KestrumSetDebugOutput") == NULL,
        "KestrumSetDebugOutput exported on Windows", 0);
#else
  (void)library;
  (void)last_ordinal;
#endif
}

int main(int argc, char** argv) {
  Library kestrum, quarnel;
  CreateRecordInstanceFn create;
  ReleaseRecordInstanceFn release;
  SendOneFrameFn send;
  StartRecordFn start;
  StopRecordFn stop;
  TransferToAsfFn transfer;
  QuarnelOpenFileFn open_file;
  QuarnelGetPacketFn get_packet;
  QuarnelEndStreamFn end_stream;
  QuarnelGetPositionFn get_position;
  uint64_t position = 0;
  Bytes stream = {0}, live_payload = {0}, file_payload = {0};
  FILE *live_packets = NULL, *file_packets = NULL;
  KestrumHandle handle;
  PacketRecord record;
  uint32_t live_ms = 0, live_samples = 0, file_samples = 0;
  long pieces = 0;
  size_t offset;
  int32_t result, result_ex;
  int writing;
  GetVersionFn get_version;
  DescribeStatusFn describe_status;
  GetRecordStatsFn get_stats;
  SetRecordDebugOutputFn set_record_output;
  TransferToAsfExFn transfer_ex;
  SwitchOutputFn switch_output;
  KestrumRecordStats live_stats, file_stats;
  KestrumTransferOptions options;
  Progress progress = {0};
  long record_lines = 0, lines_before;
  char version[32], words[96];
  const uint8_t* group;

  if (argc != 4 || (strcmp(argv[1], "write") != 0 && strcmp(argv[1], "refuse") != 0)) {
    printf("usage: kestrum_host write|refuse KESTRUM_LIBRARY QUARNEL_LIBRARY\n");
    return 2;
  }
  writing = strcmp(argv[1], "write") == 0;
  remove("live.asf");
  remove("file.asf");
  remove("file_ex.asf");
  g_diagnostics = fopen("diagnostics.txt", "wb");
  if (g_diagnostics == NULL) return 2;

  kestrum = Load(argv[2]);
  create = (CreateRecordInstanceFn)Resolve(kestrum, "CreateRecordInstance", 1);
  release = (ReleaseRecordInstanceFn)Resolve(kestrum, "ReleaseRecordInstance", 2);
  send = (SendOneFrameFn)Resolve(kestrum, "SendOneFrame", 3);
  start = (StartRecordFn)Resolve(kestrum, "StartRecord", 4);
  stop = (StopRecordFn)Resolve(kestrum, "StopRecord", 5);
  transfer = (TransferToAsfFn)Resolve(kestrum, "TransferToAsf", 6);
  (void)(SetSyncIntervalFn)Resolve(kestrum, "KestrumSetSyncInterval", 7);
  (void)(SetSyncIntervalFn)Resolve(kestrum, "KestrumSetTransferSync", 8);
  get_version = (GetVersionFn)Resolve(kestrum, "KestrumGetVersion", 9);
  describe_status = (DescribeStatusFn)Resolve(kestrum, "KestrumDescribeStatus", 10);
  get_stats = (GetRecordStatsFn)Resolve(kestrum, "KestrumGetRecordStats", 11);
  set_record_output = (SetRecordDebugOutputFn)Resolve(kestrum, "KestrumSetRecordDebugOutput", 12);
  transfer_ex = (TransferToAsfExFn)Resolve(kestrum, "KestrumTransferToAsfEx", 13);
  switch_output = (SwitchOutputFn)Resolve(kestrum, "KestrumSwitchOutput", 14);
  CheckNothingElseExported(kestrum, 14);
  sprintf(version, "%d.%d.%d", KESTRUM_VERSION_MAJOR, KESTRUM_VERSION_MINOR, KESTRUM_VERSION_PATCH);
  Check(strcmp(get_version(), version) == 0, "KestrumGetVersion", 0);
  Check(describe_status((int32_t)0x80070070u, words, sizeof words) ==
                (int32_t)strlen("disk full (or the file size limit reached)") &&
            strcmp(words, "disk full (or the file size limit reached)") == 0,
        "KestrumDescribeStatus", 0);
  quarnel = Load(argv[3]);
  open_file = (QuarnelOpenFileFn)Resolve(quarnel, "QuarnelOpenFile", 1);
  get_packet = (QuarnelGetPacketFn)Resolve(quarnel, "QuarnelGetPacket", 2);
  end_stream = (QuarnelEndStreamFn)Resolve(quarnel, "QuarnelEndStream", 3);
  get_position = (QuarnelGetPositionFn)Resolve(quarnel, "QuarnelGetPosition", 4);
  CheckNothingElseExported(quarnel, 4);
  Check(end_stream(2) == 0, "QuarnelEndStream of a channel not served", 2);

#ifdef _WIN32
  AddVectoredExceptionHandler(0, SeeDebugString);
#else
  ((SetDebugOutputFn)Resolve(kestrum, "KestrumSetDebugOutput", 0))(SeeDebugLine, NULL);
#endif

  GenerateStream(&stream);
  SaveFile("stream.bin", stream.data, stream.size);
  live_packets = fopen("live.packets", "wb");
  file_packets = fopen("file.packets", "wb");
  if (live_packets == NULL || file_packets == NULL) return 2;

  /* What the live road must write: every group (the first is a key group
   * and opens the recording), its video blocks only, 40 ms per sample. */
  for (offset = kHeaderSize; offset < stream.size;) {
    group = stream.data + offset;
    if (Get32(group) != 1) { /* the stretch that belongs to no group */
      ++offset;
      continue;
    }
    live_samples += ExpectSamples(group, 1, 0, &live_ms, &live_payload, live_packets);
    offset += kGroupHeaderSize;
    {
      uint32_t b, blocks = Get32(group + 16) - 0x1000u;
      for (b = 0; b < blocks; ++b) offset += kBlockHeaderSize + Get32(stream.data + offset + 16);
    }
  }

  /* What the file road must write: the packet source's own packets, each
   * group's blocks at the packet's time. */
  Check(open_file(1, (intptr_t) "stream.bin") != 0, "QuarnelOpenFile", 0);
  memset(&record, 0, sizeof record);
  while (get_packet(1, &record) != QUARNEL_END) {
    if (record.kind == QUARNEL_PACKET_HEADER) {
      Check(record.length == kHeaderSize && memcmp(record.data, stream.data, kHeaderSize) == 0,
            "header packet", (long)record.length);
      Check(get_position(1, &position) == 1 && position == kHeaderSize,
            "QuarnelGetPosition after the header", (long)position);
    } else if (record.kind != QUARNEL_PACKET_SKIPPED) {
      file_samples +=
          ExpectSamples(record.data, 0, record.time_ms, NULL, &file_payload, file_packets);
    }
  }
  Check(get_position(1, &position) == 1 && position > kHeaderSize && position <= stream.size,
        "QuarnelGetPosition at the end", (long)position);
  fclose(live_packets);
  fclose(file_packets);
  SaveFile("live.payload", live_payload.data, live_payload.size);
  SaveFile("file.payload", file_payload.data, file_payload.size);
  printf("expected samples: live %u, file %u\n", (unsigned)live_samples, (unsigned)file_samples);

  /* The live road, in pieces of 1 to 20000 bytes (never exactly 40: that
   * would be taken as a header). */
  handle = create();
  Check(handle != NULL, "CreateRecordInstance", 0);
  set_record_output(handle, CountRecordLine, &record_lines);
  lines_before = g_lines;
  Check(start(handle, "live.asf", 0, 0) == 1, "StartRecord", 0);
  send(handle, stream.data, kHeaderSize);
  for (offset = kHeaderSize; offset < stream.size; ++pieces) {
    size_t piece = 1 + Next() % 20000;
    if (piece == kHeaderSize) ++piece;
    if (piece > stream.size - offset) piece = stream.size - offset;
    if (piece == kHeaderSize) piece = kHeaderSize - 1;
    send(handle, stream.data + offset, (int32_t)piece);
    offset += piece;
  }
  stop(handle);
  /* After StopRecord no switch is taken; a null name never. */
  Check(switch_output(handle, "next.asf") == (int32_t)0x8000FFFFu,
        "KestrumSwitchOutput after StopRecord", 0);
  Check(switch_output(handle, NULL) == (int32_t)0x80070057u, "KestrumSwitchOutput of a null name",
        0);
  memset(&live_stats, 0, sizeof live_stats);
  live_stats.struct_size = sizeof live_stats;
  Check(get_stats(handle, &live_stats) == 0, "KestrumGetRecordStats", 0);
  release(&handle);
  Check(handle == NULL, "ReleaseRecordInstance nulls the handle", 0);
  /* Every line of the recording reached its own sink, and no other line. */
  Check(record_lines == g_lines - lines_before, "lines of the recording's own sink", record_lines);

  /* The file road. */
  result = transfer((intptr_t) "stream.bin", "file.asf");
  printf("live pieces %ld, diagnostic lines %ld, TransferToAsf %ld\n", pieces, g_lines,
         (long)result);
  memset(&options, 0, sizeof options);
  options.struct_size = sizeof options;
  options.progress = TakeProgress;
  options.context = &progress;
  memset(&file_stats, 0, sizeof file_stats);
  file_stats.struct_size = sizeof file_stats;
  result_ex = transfer_ex((intptr_t) "stream.bin", "file_ex.asf", &options, &file_stats);
  strcpy(words, "none");
  if (live_stats.first_failure != 0) describe_status(live_stats.first_failure, words, sizeof words);
  printf("live: state %d, %lu samples, first failure 0x%08lX (%s); KestrumTransferToAsfEx %ld\n",
         (int)live_stats.state, (unsigned long)live_stats.samples_written,
         (unsigned long)(uint32_t)live_stats.first_failure, words, (long)result_ex);

  if (writing) {
    Check(g_not_ready_lines == 0, "\"Not ready for Kestrum!\" lines", g_not_ready_lines);
    Check(g_written_sample_lines == (long)live_samples, "\"!!!!Write Sample!!!!\" lines",
          g_written_sample_lines);
    Check(result == 1, "TransferToAsf result", (long)result);
    Check(FileExists("live.asf"), "live.asf written", 0);
    Check(FileExists("file.asf"), "file.asf written", 0);
    Check(live_stats.state == KESTRUM_STATE_ENDED && live_stats.first_failure == 0 &&
              live_stats.samples_written == live_samples,
          "live stats", (long)live_stats.samples_written);
    /* The platform's writer tells nothing of its file: what it was handed. */
    Check(live_stats.bytes_written > 0 && (long)live_stats.bytes_written <= FileSize("live.asf"),
          "live stats: bytes written", (long)live_stats.bytes_written);
    Check(result_ex == 1 && file_stats.state == KESTRUM_STATE_ENDED &&
              file_stats.samples_written == file_samples && file_stats.bytes_in_no_group == 13,
          "KestrumTransferToAsfEx stats", (long)file_stats.samples_written);
    Check(file_stats.bytes_written > 0 &&
              (long)file_stats.bytes_written <= FileSize("file_ex.asf") &&
              FileSize("file_ex.asf") == FileSize("file.asf"),
          "KestrumTransferToAsfEx: bytes written", (long)file_stats.bytes_written);
    Check(progress.calls >= 1 && progress.read == stream.size && progress.total == stream.size &&
              progress.samples == file_samples,
          "KestrumTransferToAsfEx progress at the end", (long)progress.read);
  } else {
    Check(g_not_ready_lines == pieces, "\"Not ready for Kestrum!\" lines", g_not_ready_lines);
    Check(g_written_sample_lines == 0, "\"!!!!Write Sample!!!!\" lines", g_written_sample_lines);
    Check(result < 0, "TransferToAsf result", (long)result);
    Check(live_stats.state == KESTRUM_STATE_WAITING && live_stats.first_failure < 0 &&
              live_stats.last_failure < 0,
          "live stats keep the failure", (long)live_stats.first_failure);
    Check(result_ex == result && file_stats.state == KESTRUM_STATE_FAILED &&
              file_stats.first_failure == result && progress.calls == 0,
          "KestrumTransferToAsfEx fails the same", (long)result_ex);
    Check(!FileExists("file_ex.asf"), "no file_ex.asf", 0);
    Check(!FileExists("live.asf"), "no live.asf", 0);
    Check(!FileExists("file.asf"), "no file.asf", 0);
  }

  fclose(g_diagnostics);
  free(stream.data);
  free(live_payload.data);
  free(file_payload.data);
  printf("%s\n", g_failures == 0 ? "host: ok" : "host: FAILED");
  return g_failures == 0 ? 0 : 1;
}
