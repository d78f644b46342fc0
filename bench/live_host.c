/* What the live road costs the host's own thread: loads a build's library,
 * records a stored stream through the exports in 4 KiB pieces straight from
 * memory (the 40-byte header as a piece of its own), with the given sync
 * interval, and times the three spans the host's thread spends in the
 * library: every SendOneFrame, StopRecord, and ReleaseRecordInstance (which
 * waits for whatever of the file's end its writer's thread has still to
 * make durable). Writes one line to standard output: the three spans in
 * microseconds.
 *
 * Usage: live_host KESTRUM_LIBRARY STREAM OUTPUT SYNC_INTERVAL_MS
 * Exit status 0 when the recording ran, 2 on a wrong call or input. */
#define _POSIX_C_SOURCE 200809L
#include <dlfcn.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

typedef void* Handle;
typedef Handle (*Create)(void);
typedef void (*Release)(Handle*);
typedef void (*Send)(Handle, const void*, int32_t);
typedef int32_t (*Start)(Handle, const char*, int32_t, int32_t);
typedef void (*Stop)(Handle);
typedef int32_t (*SetInterval)(int32_t);

static long long now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: live_host KESTRUM_LIBRARY STREAM OUTPUT SYNC_INTERVAL_MS\n");
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW);
  if (library == NULL) {
    fprintf(stderr, "live_host: %s\n", dlerror());
    return 2;
  }
  Create create = (Create)dlsym(library, "CreateRecordInstance");
  Release release = (Release)dlsym(library, "ReleaseRecordInstance");
  Send send = (Send)dlsym(library, "SendOneFrame");
  Start start = (Start)dlsym(library, "StartRecord");
  Stop stop = (Stop)dlsym(library, "StopRecord");
  SetInterval set_interval = (SetInterval)dlsym(library, "KestrumSetSyncInterval");
  if (!create || !release || !send || !start || !stop || !set_interval) {
    fprintf(stderr, "live_host: %s lacks the exports\n", argv[1]);
    return 2;
  }
  const int fd = open(argv[2], O_RDONLY);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || info.st_size < 40) {
    fprintf(stderr, "live_host: cannot read %s\n", argv[2]);
    return 2;
  }
  const size_t size = (size_t)info.st_size;
  const uint8_t* stream = mmap(NULL, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (stream == MAP_FAILED) {
    perror("live_host: mmap");
    return 2;
  }
  set_interval(atoi(argv[4]));

  const long long t0 = now_us();
  Handle handle = create();
  start(handle, argv[3], 0, 0);
  send(handle, stream, 40);
  for (size_t at = 40; at < size; at += 4096) {
    send(handle, stream + at, (int32_t)(size - at < 4096 ? size - at : 4096));
  }
  const long long t1 = now_us();
  stop(handle);
  const long long t2 = now_us();
  release(&handle);
  const long long t3 = now_us();
  printf("%lld %lld %lld\n", t1 - t0, t2 - t1, t3 - t2);
  return 0;
}
