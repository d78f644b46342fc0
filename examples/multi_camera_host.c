/* A host that records many cameras at once in one process, the way a
 * recorder host does: one thread and one recording instance per camera, each
 * fed a stored stream at about the pace a camera sends it, its diagnostic
 * lines tagged with its camera, its progress printed once a second and its
 * recording cut into a new file every few seconds without stopping.
 *
 *   multi_camera_host [-q] [--seconds N] [--cut S] [--piece BYTES] [--spread S]
 *                     CAMERAS OUTPUT_FOLDER STREAM...
 *
 * Camera k (1 to CAMERAS) reads STREAM number k among those given, going
 * round them when there are fewer streams than cameras, and records into
 * OUTPUT_FOLDER/cam<k>-<n>.asf, n counting from 1: every S seconds
 * (--cut, default 10; 0 never) KestrumSwitchOutput moves the recording on to
 * the next file. Together a camera's files hold the samples of one
 * recording. A camera stops at the end of its stream, or after N seconds
 * (--seconds), or when the host is told to stop (SIGINT, SIGTERM).
 *
 * Cameras come up one after another over the first S seconds (--spread,
 * default 1; 0 all at once), as cameras connecting to a recorder do, so
 * that their groups and cuts do not all fall on the same instant; each
 * counts its --seconds and --cut from its own start.
 *
 * Pace: a camera sends 25 groups a second. The stream is handed over in
 * pieces of --piece bytes (default 4096) at its average byte rate, the
 * stream's size over its length in time (its groups / 25), so each group
 * arrives about when a camera would send it: on average, not group by group.
 * A piece is due when the bytes before it are due; how late SendOneFrame
 * returns after that is the camera's lag behind real time (the thread woken
 * late, the library's time in the call), its worst kept.
 *
 * What a host must take care of, shown below:
 *  - the header goes out as one piece of exactly 40 bytes, and no data piece
 *    may be 40 bytes long (it would be taken as a header);
 *  - StartRecord keeps the host's pointer to the first output name until
 *    StopRecord; KestrumSwitchOutput copies its name;
 *  - KestrumSwitchOutput is called by the thread that feeds the instance,
 *    never while a SendOneFrame of the same instance runs elsewhere;
 *  - KestrumGetRecordStats may be called from any thread while the instance
 *    lives, never after ReleaseRecordInstance;
 *  - a sink (KestrumSetRecordDebugOutput) is called on whatever thread wrote
 *    the line: here each line goes out in one locked fprintf.
 *
 * Each camera's lines go to stderr as "[cam K] LINE" (-q leaves them
 * out); once a second, and at the end, stdout gets a line per camera:
 * "cam K: STATE, N samples, N bytes, file N, lag N.N ms, failures: ...",
 * then "worst lag: N.N ms (cam K)", the worst of all cameras, and last
 * "worst call: N.N ms (cam K)", the longest one call into the library took
 * (SendOneFrame, whose piece may end one file and begin the next, or
 * KestrumSwitchOutput): of the lag, what the library itself took rather
 * than the thread waking late.
 *
 * Exit status: 0 every camera recorded; 1 a camera's stats tell of a
 * failure (or it wrote nothing); 2 bad command line; 3 a stream could not be
 * read. */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "kestrum.h"

enum { kExitRecorded = 0, kExitFailed = 1, kExitUsage = 2, kExitInput = 3 };
enum { kNameCapacity = 4096 };

static volatile sig_atomic_t g_stop = 0;
static pthread_mutex_t g_output_lock = PTHREAD_MUTEX_INITIALIZER;

static void OnStopSignal(int signal_number) {
  (void)signal_number;
  g_stop = 1;
}

/* What every camera is told. */
typedef struct Settings {
  int quiet;
  double seconds; /* 0: until the end of the stream */
  double cut;     /* 0: one file */
  double spread;  /* cameras' starts spread over this many seconds */
  size_t piece;
  const char* folder;
} Settings;

/* One stored stream, read once and shared by the cameras that send it. */
typedef struct Stream {
  const char* path;
  unsigned char* bytes;
  size_t size;
  double bytes_per_second;
} Stream;

typedef struct Camera {
  int number; /* from 1 */
  const Settings* settings;
  const Stream* stream;
  KestrumHandle handle;
  char first_name[kNameCapacity]; /* StartRecord keeps this pointer */
  atomic_int files;               /* files begun so far; read by the stats */
  atomic_llong worst_lag_us;      /* the latest a piece went out after it was due */
  long long worst_call_us;        /* the longest the library took in one call */
  atomic_int done;
  double start; /* when it begins to send (Now()) */
  pthread_t thread;
} Camera;

static uint32_t ReadU32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* The length of the group at `p` (48-byte header, then blocks of a 20-byte
 * header and a payload), or 0 when no whole group begins there. */
static size_t GroupLength(const unsigned char* p, size_t available) {
  if (available < 48 || ReadU32(p) != 1) return 0;
  const uint32_t type = ReadU32(p + 12);
  if (type != 0x1000 && type != 0x1001) return 0;
  const uint32_t blocks = ReadU32(p + 16) & 0xFF;
  size_t at = 48;
  for (uint32_t b = 0; b < blocks; ++b) {
    if (available - at < 20) return 0;
    const uint32_t payload = ReadU32(p + at + 16);
    if (payload >= 500000 || available - at - 20 < payload) return 0;
    at += 20 + payload;
  }
  return at;
}

/* The groups in the stream after its header, skipping bytes between them. */
static size_t CountGroups(const unsigned char* bytes, size_t size) {
  size_t groups = 0;
  for (size_t at = KESTRUM_HEADER_SIZE; at < size;) {
    const size_t length = GroupLength(bytes + at, size - at);
    if (length == 0) {
      ++at;
    } else {
      ++groups;
      at += length;
    }
  }
  return groups;
}

static int LoadStream(Stream* stream) {
  FILE* file = fopen(stream->path, "rb");
  if (file == NULL) {
    fprintf(stderr, "multi_camera_host: %s: %s\n", stream->path, strerror(errno));
    return 0;
  }
  size_t capacity = 1 << 20;
  stream->bytes = malloc(capacity);
  stream->size = 0;
  size_t got = 0;
  while (stream->bytes != NULL &&
         (got = fread(stream->bytes + stream->size, 1, capacity - stream->size, file)) > 0) {
    stream->size += got;
    if (stream->size == capacity) {
      capacity *= 2;
      unsigned char* grown = realloc(stream->bytes, capacity);
      if (grown == NULL) free(stream->bytes);
      stream->bytes = grown;
    }
  }
  const int read_failed = ferror(file) || stream->bytes == NULL;
  fclose(file);
  if (read_failed || stream->size < KESTRUM_HEADER_SIZE) {
    fprintf(stderr, "multi_camera_host: %s: %s\n", stream->path,
            read_failed ? "cannot be read" : "shorter than its 40-byte header");
    return 0;
  }
  const size_t groups = CountGroups(stream->bytes, stream->size);
  /* 25 groups a second; a stream without groups goes at one second. */
  stream->bytes_per_second = (double)stream->size * 25.0 / (double)(groups > 0 ? groups : 25);
  return 1;
}

static double Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static void SleepUntil(double when) {
  const double wait = when - Now();
  if (wait <= 0) return;
  struct timespec pause;
  pause.tv_sec = (time_t)wait;
  pause.tv_nsec = (long)((wait - (double)pause.tv_sec) * 1e9);
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR && !g_stop) {
  }
}

static void KESTRUM_CALL OnCameraLine(const char* line, void* context) {
  const Camera* camera = (const Camera*)context;
  if (camera->settings->quiet) return;
  size_t length = strlen(line); /* a few lines end in "\r\n" of their own */
  while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
  pthread_mutex_lock(&g_output_lock);
  fprintf(stderr, "[cam %d] %.*s\n", camera->number, (int)length, line);
  pthread_mutex_unlock(&g_output_lock);
}

/* Hands one piece over; never a data piece of exactly 40 bytes. */
static void SendPiece(KestrumHandle handle, const unsigned char* data, size_t length) {
  if (length == KESTRUM_HEADER_SIZE) {
    SendOneFrame(handle, data, KESTRUM_HEADER_SIZE - 1);
    SendOneFrame(handle, data + KESTRUM_HEADER_SIZE - 1, 1);
  } else {
    SendOneFrame(handle, data, (int32_t)length);
  }
}

static void SwitchToNextFile(Camera* camera) {
  char name[kNameCapacity];
  snprintf(name, sizeof name, "%s/cam%d-%d.asf", camera->settings->folder, camera->number,
           atomic_load(&camera->files) + 1);
  const int32_t status = KestrumSwitchOutput(camera->handle, name);
  if (status != 0) {
    pthread_mutex_lock(&g_output_lock);
    fprintf(stderr, "multi_camera_host: cam %d: switching to %s: 0x%08X\n", camera->number, name,
            (unsigned)status);
    pthread_mutex_unlock(&g_output_lock);
    return;
  }
  atomic_fetch_add(&camera->files, 1);
}

/* Notes how long a call into the library that began at `began` took. */
static void NoteCall(Camera* camera, double began) {
  const long long call_us = (long long)((Now() - began) * 1e6);
  if (call_us > camera->worst_call_us) camera->worst_call_us = call_us;
}

/* Notes how late a piece went out, `due` being when it was due. */
static void NoteLag(Camera* camera, double due) {
  const long long lag_us = (long long)((Now() - due) * 1e6);
  if (lag_us > atomic_load(&camera->worst_lag_us)) atomic_store(&camera->worst_lag_us, lag_us);
}

static void* RunCamera(void* argument) {
  Camera* camera = (Camera*)argument;
  const Settings* settings = camera->settings;
  const Stream* stream = camera->stream;
  SleepUntil(camera->start);
  const double start = camera->start;
  const double end = settings->seconds > 0 ? start + settings->seconds : 0;
  double next_cut = settings->cut > 0 ? start + settings->cut : 0;
  SendOneFrame(camera->handle, stream->bytes, KESTRUM_HEADER_SIZE);
  for (size_t at = KESTRUM_HEADER_SIZE; at < stream->size && !g_stop;) {
    const double now = Now();
    if (end > 0 && now >= end) break;
    if (next_cut > 0 && now >= next_cut) {
      SwitchToNextFile(camera);
      NoteCall(camera, now);
      next_cut += settings->cut;
    }
    size_t length = stream->size - at;
    if (length > settings->piece) length = settings->piece;
    const double began = Now();
    SendPiece(camera->handle, stream->bytes + at, length);
    NoteCall(camera, began);
    NoteLag(camera, start + (double)(at - KESTRUM_HEADER_SIZE) / stream->bytes_per_second);
    at += length;
    SleepUntil(start + (double)(at - KESTRUM_HEADER_SIZE) / stream->bytes_per_second);
  }
  StopRecord(camera->handle); /* bytes of an unfinished group are not written */
  atomic_store(&camera->done, 1);
  return NULL;
}

static const char* StateName(int32_t state) {
  switch (state) {
    case KESTRUM_STATE_NO_NAME:
      return "no name";
    case KESTRUM_STATE_WAITING:
      return "waiting";
    case KESTRUM_STATE_RECORDING:
      return "recording";
    case KESTRUM_STATE_ENDED:
      return "ended";
    case KESTRUM_STATE_FAILED:
      return "failed";
    default:
      return "unknown";
  }
}

/* Prints the camera's stats line; returns 1 when they tell of a failure. */
static int PrintStats(const Camera* camera) {
  KestrumRecordStats stats;
  memset(&stats, 0, sizeof stats);
  stats.struct_size = sizeof stats;
  KestrumGetRecordStats(camera->handle, &stats);
  char first[160] = "none";
  char last[160] = "";
  if (stats.first_failure != 0) {
    char words[128];
    KestrumDescribeStatus(stats.first_failure, words, sizeof words);
    snprintf(first, sizeof first, "first 0x%08X %s", (unsigned)stats.first_failure, words);
    KestrumDescribeStatus(stats.last_failure, words, sizeof words);
    snprintf(last, sizeof last, ", last 0x%08X %s", (unsigned)stats.last_failure, words);
  }
  pthread_mutex_lock(&g_output_lock);
  printf("cam %d: %s, %llu samples, %llu bytes, file %d, lag %.1f ms, failures: %s%s\n",
         camera->number, StateName(stats.state), (unsigned long long)stats.samples_written,
         (unsigned long long)stats.bytes_written, atomic_load(&camera->files),
         (double)atomic_load(&camera->worst_lag_us) / 1000.0, first, last);
  fflush(stdout);
  pthread_mutex_unlock(&g_output_lock);
  return stats.state == KESTRUM_STATE_FAILED || stats.first_failure != 0 ||
         stats.samples_written == 0;
}

static int Usage(void) {
  fputs(
      "Usage: multi_camera_host [-q] [--seconds N] [--cut S] [--piece BYTES] [--spread S]\n"
      "                         CAMERAS OUTPUT_FOLDER STREAM...\n",
      stderr);
  return kExitUsage;
}

/* Parses a number in [low, high]; 0 when it is not one. */
static int ParseNumber(const char* text, double low, double high, double* value) {
  char* end = NULL;
  *value = strtod(text, &end);
  return end != text && *end == '\0' && *value >= low && *value <= high;
}

/* Options and the camera count; returns the index of OUTPUT_FOLDER or 0. */
static int ParseCommandLine(int argc, char** argv, Settings* settings, long* cameras) {
  int arg = 1;
  for (; arg < argc && argv[arg][0] == '-'; ++arg) {
    double value = 0;
    if (strcmp(argv[arg], "-q") == 0) {
      settings->quiet = 1;
    } else if (arg + 1 < argc && strcmp(argv[arg], "--seconds") == 0 &&
               ParseNumber(argv[arg + 1], 0, 1e9, &value)) {
      settings->seconds = value;
      ++arg;
    } else if (arg + 1 < argc && strcmp(argv[arg], "--cut") == 0 &&
               ParseNumber(argv[arg + 1], 0, 1e9, &value)) {
      settings->cut = value;
      ++arg;
    } else if (arg + 1 < argc && strcmp(argv[arg], "--spread") == 0 &&
               ParseNumber(argv[arg + 1], 0, 3600, &value)) {
      settings->spread = value;
      ++arg;
    } else if (arg + 1 < argc && strcmp(argv[arg], "--piece") == 0 &&
               ParseNumber(argv[arg + 1], 1, 1 << 24, &value)) {
      settings->piece = (size_t)value;
      ++arg;
    } else {
      return 0;
    }
  }
  double count = 0;
  if (argc - arg < 3 || !ParseNumber(argv[arg], 1, 4096, &count)) return 0;
  *cameras = (long)count;
  return arg + 1;
}

/* Starts every camera; returns how many were started. */
static long StartCameras(Camera* cameras, long count) {
  const double first = Now();
  for (long k = 0; k < count; ++k) {
    Camera* camera = &cameras[k];
    camera->start = first + camera->settings->spread * (double)k / (double)count;
    camera->handle = CreateRecordInstance();
    if (camera->handle == NULL) return k;
    KestrumSetRecordDebugOutput(camera->handle, OnCameraLine, camera);
    snprintf(camera->first_name, sizeof camera->first_name, "%s/cam%d-1.asf",
             camera->settings->folder, camera->number);
    atomic_store(&camera->files, 1);
    StartRecord(camera->handle, camera->first_name, 0, 0);
    if (pthread_create(&camera->thread, NULL, RunCamera, camera) != 0) {
      ReleaseRecordInstance(&camera->handle);
      return k;
    }
  }
  return count;
}

/* Prints every camera's stats once a second until all are done. */
static void WatchCameras(Camera* cameras, long count) {
  for (;;) {
    SleepUntil(Now() + 1.0);
    long done = 0;
    for (long k = 0; k < count; ++k) done += atomic_load(&cameras[k].done);
    if (done == count) return;
    for (long k = 0; k < count; ++k) PrintStats(&cameras[k]);
  }
}

int main(int argc, char** argv) {
  Settings settings = {0, 0, 10, 1, 4096, NULL};
  long count = 0;
  const int folder_arg = ParseCommandLine(argc, argv, &settings, &count);
  if (folder_arg == 0) return Usage();
  settings.folder = argv[folder_arg];
  const int stream_count = argc - folder_arg - 1;
  Stream* streams = calloc((size_t)stream_count, sizeof *streams);
  Camera* cameras = calloc((size_t)count, sizeof *cameras);
  if (streams == NULL || cameras == NULL) return kExitInput;
  for (int s = 0; s < stream_count; ++s) {
    streams[s].path = argv[folder_arg + 1 + s];
    if (!LoadStream(&streams[s])) return kExitInput;
  }
  struct sigaction stop;
  memset(&stop, 0, sizeof stop);
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGINT, &stop, NULL);
  sigaction(SIGTERM, &stop, NULL);

  for (long k = 0; k < count; ++k) {
    cameras[k].number = (int)(k + 1);
    cameras[k].settings = &settings;
    cameras[k].stream = &streams[k % stream_count];
  }
  const long started = StartCameras(cameras, count);
  if (started < count) {
    fprintf(stderr, "multi_camera_host: only %ld of %ld cameras could be started\n", started,
            count);
    g_stop = 1;
  }
  WatchCameras(cameras, started);
  int failed = started < count;
  long worst = 0, slowest = 0;
  for (long k = 0; k < started; ++k) {
    pthread_join(cameras[k].thread, NULL);
    failed |= PrintStats(&cameras[k]);
    ReleaseRecordInstance(&cameras[k].handle); /* detaches its sink */
    if (atomic_load(&cameras[k].worst_lag_us) > atomic_load(&cameras[worst].worst_lag_us)) {
      worst = k;
    }
    if (cameras[k].worst_call_us > cameras[slowest].worst_call_us) slowest = k;
  }
  if (started > 0) {
    printf("worst lag: %.1f ms (cam %d)\n",
           (double)atomic_load(&cameras[worst].worst_lag_us) / 1000.0, cameras[worst].number);
    printf("worst call: %.1f ms (cam %d)\n", (double)cameras[slowest].worst_call_us / 1000.0,
           cameras[slowest].number);
  }
  for (int s = 0; s < stream_count; ++s) free(streams[s].bytes);
  free(streams);
  free(cameras);
  return failed ? kExitFailed : kExitRecorded;
}
