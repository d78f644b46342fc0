/* What the live road costs the host's own thread: records a stored stream
 * through the exports in 4 KiB pieces straight from memory (the 40-byte
 * header as a piece of its own), with the given sync interval, and times
 * the three spans the host's thread spends in the library: every
 * SendOneFrame, StopRecord, and ReleaseRecordInstance (which waits for
 * whatever of the file's end its writer's thread has still to make
 * durable). Writes the three spans, in microseconds, on one line.
 *
 * Usage: live_host STREAM OUTPUT SYNC_INTERVAL_MS */
#define _POSIX_C_SOURCE 200809L
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>

#include "kestrum.h"

static long long now_us(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

int main(int argc, char** argv) {
  struct stat info;
  const int fd = argc == 4 ? open(argv[1], O_RDONLY) : -1;
  if (fd < 0 || fstat(fd, &info) != 0 || info.st_size < 40) {
    fprintf(stderr, "usage: live_host STREAM OUTPUT SYNC_INTERVAL_MS (a stream to read)\n");
    return 2;
  }
  const size_t size = (size_t)info.st_size;
  const uint8_t* stream = mmap(NULL, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (stream == MAP_FAILED) return 2;
  KestrumSetSyncInterval(atoi(argv[3]));

  const long long t0 = now_us();
  KestrumHandle handle = CreateRecordInstance();
  StartRecord(handle, argv[2], 0, 0);
  SendOneFrame(handle, stream, 40);
  for (size_t at = 40; at < size; at += 4096) {
    SendOneFrame(handle, stream + at, (int32_t)(size - at < 4096 ? size - at : 4096));
  }
  const long long t1 = now_us();
  StopRecord(handle);
  const long long t2 = now_us();
  ReleaseRecordInstance(&handle);
  printf("%lld %lld %lld\n", t1 - t0, t2 - t1, now_us() - t2);
  return 0;
}
