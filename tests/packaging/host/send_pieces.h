/* The live road as the hosts here drive it: the stream's 40-byte header as a
 * piece of its own, then the rest in pieces of `piece` bytes, a piece that
 * would be exactly 40 bytes long (it would be taken as a header) as 39 + 1.
 * Needs kestrum.h. */
#ifndef KESTRUM_HOST_SEND_PIECES_H_
#define KESTRUM_HOST_SEND_PIECES_H_

static void SendPieces(KestrumHandle handle, const unsigned char* stream, long size, long piece) {
  SendOneFrame(handle, stream, KESTRUM_HEADER_SIZE);
  for (long at = KESTRUM_HEADER_SIZE; at < size; at += piece) {
    const long length = size - at < piece ? size - at : piece;
    if (length == KESTRUM_HEADER_SIZE) {
      SendOneFrame(handle, stream + at, KESTRUM_HEADER_SIZE - 1);
      SendOneFrame(handle, stream + at + KESTRUM_HEADER_SIZE - 1, 1);
    } else {
      SendOneFrame(handle, stream + at, (int32_t)length);
    }
  }
}

#endif
