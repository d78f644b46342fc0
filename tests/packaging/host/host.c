/* A host built against an installed Kestrum (find_package or pkg-config):
 * converts a stored stream on the file road and records the same stream on
 * the live road, in pieces of `piece` bytes.
 *
 *   kestrum_installed_host STREAM FILE_ROAD.asf LIVE_ROAD.asf PIECE
 *
 * Prints "file road: RESULT" and "live road: N samples"; exits 0 when
 * TransferToAsf returned 1 and the live road wrote at least one sample. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kestrum.h"
#include "send_pieces.h"

static void CountSamples(const char* line, void* context) {
  if (strcmp(line, "!!!!Write Sample!!!!") == 0) ++*(long*)context;
}

static unsigned char* ReadAll(const char* path, long* size) {
  FILE* f = fopen(path, "rb");
  if (f == NULL) return NULL;
  unsigned char* bytes = NULL;
  if (fseek(f, 0, SEEK_END) == 0 && (*size = ftell(f)) >= 0 && fseek(f, 0, SEEK_SET) == 0) {
    bytes = malloc((size_t)*size + 1);
    if (bytes != NULL && fread(bytes, 1, (size_t)*size, f) != (size_t)*size) {
      free(bytes);
      bytes = NULL;
    }
  }
  fclose(f);
  return bytes;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fputs("usage: kestrum_installed_host STREAM FILE_ROAD.asf LIVE_ROAD.asf PIECE\n", stderr);
    return 2;
  }
  const long piece = atol(argv[4]);
  if (piece <= 0 || piece == KESTRUM_HEADER_SIZE) return 2;

  const int32_t result = TransferToAsf((intptr_t)argv[1], argv[2]);
  printf("file road: %d\n", (int)result);

  long size = 0;
  unsigned char* stream = ReadAll(argv[1], &size);
  if (stream == NULL || size < KESTRUM_HEADER_SIZE) return 1;
  long samples = 0;
  KestrumSetDebugOutput(CountSamples, &samples);
  KestrumHandle handle = CreateRecordInstance();
  if (handle == NULL || StartRecord(handle, argv[3], 0, 0) != 1) return 1;
  SendPieces(handle, stream, size, piece);
  StopRecord(handle);
  ReleaseRecordInstance(&handle);
  KestrumSetDebugOutput(NULL, NULL);
  free(stream);
  printf("live road: %ld samples\n", samples);
  return result == 1 && samples > 0 && handle == NULL ? 0 : 1;
}
