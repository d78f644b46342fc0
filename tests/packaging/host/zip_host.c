/* A Windows host built with mingw-w64 from the unpacked zip alone (the host
 * project, find_package(Kestrum)): kestrum.h and libkestrum.dll.a, whose
 * decorated __stdcall symbols must import the DLL's undecorated exports. Run
 * beside Kestrum.dll and Quarnel.dll.
 *
 *   zip_host write   FOLDER   both roads must write their file
 *   zip_host refuse  FOLDER   both roads must fail cleanly (a WM runtime
 *                             whose writer cannot be made)
 *
 * Writes FOLDER/stream.xqv (a small stream: GROUPS groups of one video block
 * each), records it on the live road into FOLDER/live.asf and converts it on
 * the file road into FOLDER/file.asf. Prints each failed expectation; exit
 * status 0 when all held. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kestrum.h"
#include "send_pieces.h"

enum { kGroups = 30, kPayload = 700, kGroupSize = 48 + 20 + kPayload };

static int g_failures = 0;

static void Expect(int holds, const char* what) {
  if (!holds) {
    printf("FAIL: %s\n", what);
    ++g_failures;
  }
}

static void Put32(unsigned char* p, uint32_t v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
  p[2] = (unsigned char)(v >> 16);
  p[3] = (unsigned char)(v >> 24);
}

static void Put16(unsigned char* p, uint16_t v) {
  p[0] = (unsigned char)v;
  p[1] = (unsigned char)(v >> 8);
}

/* Header (explicit 352 x 288, stream type 0x1001), then kGroups groups, each
 * a start group with one block of kind 0x1003. */
static size_t BuildStream(unsigned char* out) {
  memset(out, 0, KESTRUM_HEADER_SIZE);
  Put32(out + 0, 1);
  Put32(out + 8, 0x20040308u);
  Put16(out + 16, 0x1001);
  Put16(out + 18, 0x1001);
  Put16(out + 22, 1);
  Put32(out + 24, 1000000);
  Put16(out + 28, 352);
  Put16(out + 30, 288);
  size_t at = KESTRUM_HEADER_SIZE;
  for (uint32_t g = 0; g < kGroups; ++g) {
    unsigned char* group = out + at;
    memset(group, 0, 48 + 20);
    Put32(group + 0, 1);
    Put32(group + 4, 0x1000 + g);
    Put32(group + 12, 0x1000);
    Put32(group + 16, 0x1001);
    Put32(group + 24, 0x1001);
    Put32(group + 28, 0x1000);
    Put16(group + 48, 0x1003);
    Put32(group + 48 + 16, kPayload);
    for (int i = 0; i < kPayload; ++i) group[48 + 20 + i] = (unsigned char)(g * 31 + i);
    at += kGroupSize;
  }
  return at;
}

static long FileSize(const char* path) {
  FILE* f = fopen(path, "rb");
  if (f == NULL) return -1;
  fseek(f, 0, SEEK_END);
  const long size = ftell(f);
  fclose(f);
  return size;
}

int main(int argc, char** argv) {
  if (argc != 3 || (strcmp(argv[1], "write") != 0 && strcmp(argv[1], "refuse") != 0)) {
    fputs("usage: zip_host write|refuse FOLDER\n", stderr);
    return 2;
  }
  const int expect_files = strcmp(argv[1], "write") == 0;
  char stream_path[1024], live_path[1024], file_path[1024], missing_path[1024];
  snprintf(stream_path, sizeof stream_path, "%s/stream.xqv", argv[2]);
  snprintf(live_path, sizeof live_path, "%s/live.asf", argv[2]);
  snprintf(file_path, sizeof file_path, "%s/file.asf", argv[2]);
  snprintf(missing_path, sizeof missing_path, "%s/missing.xqv", argv[2]);
  remove(live_path);
  remove(file_path);

  static unsigned char stream[KESTRUM_HEADER_SIZE + kGroups * kGroupSize];
  const size_t size = BuildStream(stream);
  FILE* f = fopen(stream_path, "wb");
  Expect(f != NULL && fwrite(stream, 1, size, f) == size, "stream file written");
  if (f != NULL) fclose(f);

  /* Live road, in pieces of 1000 bytes. */
  Expect(StartRecord(NULL, live_path, 0, 0) == 0, "StartRecord(null handle) returns 0");
  KestrumHandle handle = CreateRecordInstance();
  Expect(handle != NULL, "CreateRecordInstance gives a handle");
  if (handle != NULL) {
    Expect(StartRecord(handle, live_path, 0, 0) == 1, "StartRecord returns 1");
    SendPieces(handle, stream, (long)size, 1000);
    StopRecord(handle);
    ReleaseRecordInstance(&handle);
    Expect(handle == NULL, "ReleaseRecordInstance clears the handle");
  }

  /* File road. */
  Expect(TransferToAsf((intptr_t)missing_path, file_path) == 0, "a missing source gives 0");
  const int32_t result = TransferToAsf((intptr_t)stream_path, file_path);
  if (expect_files) {
    Expect(result == 1, "TransferToAsf returns 1");
    Expect(FileSize(live_path) > (long)size, "the live road wrote its file");
    Expect(FileSize(file_path) > (long)size, "the file road wrote its file");
  } else {
    Expect(result < 0, "TransferToAsf returns a failure status");
    Expect(FileSize(live_path) < 0 && FileSize(file_path) < 0, "no file written");
  }
  printf("TransferToAsf: %d; %d failures\n", (int)result, g_failures);
  return g_failures == 0 ? 0 : 1;
}
