/* The packet source's own cost, without a writer: loads a build's packet-
 * source library, opens a stored stream through it and fetches every packet
 * to the end, as the file road does, touching no byte of a group but its
 * first. Writes one line to OUTPUT: the packets of each kind, the bytes of
 * the groups and the result of the last call.
 *
 * Usage: packet_walk QUARNEL_LIBRARY STREAM OUTPUT
 * Exit status 0 when the stream was read to its end, 1 otherwise. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>

#include "quarnel.h"

typedef int32_t (*OpenFile)(int32_t, intptr_t);
typedef int32_t (*GetPacket)(int32_t, PacketRecord*);

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: packet_walk QUARNEL_LIBRARY STREAM OUTPUT\n");
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW);
  if (library == NULL) {
    fprintf(stderr, "packet_walk: %s\n", dlerror());
    return 2;
  }
  OpenFile open_file = (OpenFile)dlsym(library, "QuarnelOpenFile");
  GetPacket get_packet = (GetPacket)dlsym(library, "QuarnelGetPacket");
  if (open_file == NULL || get_packet == NULL) {
    fprintf(stderr, "packet_walk: %s lacks the exports\n", argv[1]);
    return 2;
  }
  if (open_file(1, (intptr_t)argv[2]) == 0) {
    fprintf(stderr, "packet_walk: cannot open %s\n", argv[2]);
    return 1;
  }
  unsigned long long groups = 0, skipped = 0, group_bytes = 0;
  unsigned first_bytes = 0; /* so that the first byte of each group is read */
  PacketRecord record;
  int32_t result;
  while ((result = get_packet(1, &record)) == QUARNEL_MORE) {
    if (record.kind == QUARNEL_PACKET_GROUP) {
      ++groups;
      group_bytes += record.length;
      first_bytes += record.data[0];
    } else if (record.kind == QUARNEL_PACKET_SKIPPED) {
      ++skipped;
    }
  }
  FILE* out = fopen(argv[3], "w");
  if (out == NULL) {
    perror(argv[3]);
    return 2;
  }
  fprintf(out, "groups %llu (%llu bytes, first bytes %u), skipped regions %llu, last result %d\n",
          groups, group_bytes, first_bytes, skipped, (int)result);
  if (fclose(out) != 0) return 2;
  return result == QUARNEL_END ? 0 : 1;
}
