/* A host that records a live stream arriving on a TCP connection, the way a
 * real host feeds the live road: it connects to a sender (a camera server, an
 * encoder card's relay...), hands every read to SendOneFrame as it comes and
 * ends the file when the sender closes the connection or the host is told to
 * stop (SIGINT, SIGTERM).
 *
 *   live_socket_host [-v] [--read-size N] HOST PORT OUTPUT.asf
 *
 * The sender sends the stream as stored: its 40-byte header first, then the
 * groups. Reads have any length; the library finds the groups itself.
 *
 * What a host must take care of, shown below:
 *  - the header goes out as one piece of exactly 40 bytes, and no data piece
 *    may be 40 bytes long (it would be taken as a header): such a read is
 *    handed on as 39 + 1 bytes;
 *  - StartRecord keeps the host's pointer to the output name, so the string
 *    must stay valid and unchanged until StopRecord (here: argv);
 *  - the live road reports nothing back: a host that wants to know whether
 *    the file could be opened, or whether anything was written, watches the
 *    library's diagnostic lines (KestrumSetDebugOutput, on non-Windows
 *    builds);
 *  - StopRecord before ReleaseRecordInstance, or the file stays unended (still
 *    readable up to its last complete packet, but without index or duration).
 *
 * Exit status: 0 the recording was written; 1 nothing could be recorded (the
 * header was refused, the output could not be prepared, no sample written);
 * 2 bad command line; 3 the connection failed.
 *
 * -v prints the library's diagnostic lines on stderr; --read-size N reads at
 * most N bytes per call (default 65536). */
#define _POSIX_C_SOURCE 200809L

#include <errno.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include "kestrum.h"

enum { kExitRecorded = 0, kExitNothingRecorded = 1, kExitUsage = 2, kExitConnection = 3 };

static volatile sig_atomic_t g_stop = 0;

static void OnStopSignal(int signal_number) {
  (void)signal_number;
  g_stop = 1;
}

/* What the library's diagnostic lines told about this recording. */
typedef struct Watch {
  int verbose;
  long samples_written;  /* "!!!!Write Sample!!!!" */
  long pieces_not_ready; /* "Not ready for Kestrum!": output not prepared, piece dropped */
  long headers_refused;  /* "Wrong File header!" */
} Watch;

static void OnDiagnostic(const char* line, void* context) {
  Watch* watch = (Watch*)context;
  if (strcmp(line, "!!!!Write Sample!!!!") == 0) {
    ++watch->samples_written;
  } else if (strcmp(line, "Not ready for Kestrum!") == 0) {
    ++watch->pieces_not_ready;
  } else if (strcmp(line, "Wrong File header!") == 0) {
    ++watch->headers_refused;
  }
  if (watch->verbose) {
    /* Lines carry no line ending of their own (a few end in "\r\n"). */
    size_t length = strlen(line);
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) --length;
    fprintf(stderr, "[kestrum] %.*s\n", (int)length, line);
  }
}

/* Hands one read to the live road; never a data piece of exactly 40 bytes. */
static void SendPiece(KestrumHandle handle, const unsigned char* data, size_t length) {
  if (length == KESTRUM_HEADER_SIZE) {
    SendOneFrame(handle, data, KESTRUM_HEADER_SIZE - 1);
    SendOneFrame(handle, data + KESTRUM_HEADER_SIZE - 1, 1);
  } else {
    SendOneFrame(handle, data, (int32_t)length);
  }
}

/* Connects to host:port; -1 on failure (reported). */
static int Connect(const char* host, const char* port) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  struct addrinfo* found = NULL;
  const int error = getaddrinfo(host, port, &hints, &found);
  if (error != 0) {
    fprintf(stderr, "live_socket_host: %s:%s: %s\n", host, port, gai_strerror(error));
    return -1;
  }
  int fd = -1;
  int failure = 0;
  for (struct addrinfo* a = found; a != NULL && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      failure = errno;
      close(fd);
      fd = -1;
    } else if (fd < 0) {
      failure = errno;
    }
  }
  if (fd < 0) {
    fprintf(stderr, "live_socket_host: cannot connect to %s:%s: %s\n", host, port,
            strerror(failure));
  }
  freeaddrinfo(found);
  return fd;
}

/* Reads up to `length` bytes: the count, 0 at the end of the connection or
 * when told to stop, -1 on a failure (reported). */
static ssize_t Receive(int fd, unsigned char* buffer, size_t length) {
  for (;;) {
    if (g_stop) return 0;
    /* A stop that comes between the test above and recv would not wake a
     * recv that waits for a quiet sender: wait in short steps instead. */
    struct pollfd ready = {fd, POLLIN, 0};
    const int polled = poll(&ready, 1, 200);
    if (polled == 0) continue;
    const ssize_t got = polled > 0 ? recv(fd, buffer, length, 0) : -1;
    if (got >= 0) return got;
    if (errno != EINTR) {
      fprintf(stderr, "live_socket_host: receiving: %s\n", strerror(errno));
      return -1;
    }
  }
}

static int Usage(void) {
  fputs("Usage: live_socket_host [-v] [--read-size N] HOST PORT OUTPUT.asf\n", stderr);
  return kExitUsage;
}

int main(int argc, char** argv) {
  Watch watch = {0, 0, 0, 0};
  size_t read_size = 65536;
  int arg = 1;
  for (; arg < argc && argv[arg][0] == '-'; ++arg) {
    if (strcmp(argv[arg], "-v") == 0) {
      watch.verbose = 1;
    } else if (strcmp(argv[arg], "--read-size") == 0 && arg + 1 < argc) {
      char* end = NULL;
      const unsigned long n = strtoul(argv[++arg], &end, 10);
      if (*end != '\0' || n == 0 || n > (1ul << 24)) return Usage();
      read_size = (size_t)n;
    } else {
      return Usage();
    }
  }
  if (argc - arg != 3) return Usage();
  const char* host = argv[arg];
  const char* port = argv[arg + 1];
  const char* output = argv[arg + 2]; /* lives until the end: StartRecord keeps it */

  struct sigaction stop;
  memset(&stop, 0, sizeof stop);
  stop.sa_handler = OnStopSignal; /* no SA_RESTART: a blocked recv returns EINTR */
  sigemptyset(&stop.sa_mask);
  sigaction(SIGINT, &stop, NULL);
  sigaction(SIGTERM, &stop, NULL);
  signal(SIGPIPE, SIG_IGN);

  const int fd = Connect(host, port);
  if (fd < 0) return kExitConnection;
  unsigned char* buffer = malloc(read_size);
  if (buffer == NULL) {
    close(fd);
    return kExitConnection;
  }

  KestrumSetDebugOutput(OnDiagnostic, &watch);
  KestrumHandle handle = CreateRecordInstance();
  if (handle == NULL) {
    fputs("live_socket_host: no recording instance could be made\n", stderr);
    free(buffer);
    close(fd);
    return kExitNothingRecorded;
  }
  StartRecord(handle, output, 0, 0);

  /* The header: exactly 40 bytes, as a piece of its own. */
  unsigned char header[KESTRUM_HEADER_SIZE];
  size_t have = 0;
  int failed = 0;
  while (have < sizeof header) {
    const ssize_t got = Receive(fd, header + have, sizeof header - have);
    if (got <= 0) {
      failed = 1;
      break;
    }
    have += (size_t)got;
  }
  uint64_t received = have;
  if (!failed) {
    SendOneFrame(handle, header, KESTRUM_HEADER_SIZE);
    /* A refused header makes every later piece useless: stop here. */
    while (watch.headers_refused == 0) {
      const ssize_t got = Receive(fd, buffer, read_size);
      if (got <= 0) break;
      received += (uint64_t)got;
      SendPiece(handle, buffer, (size_t)got);
    }
  }
  /* Bytes of a group the sender had not finished are not written. */
  StopRecord(handle);
  ReleaseRecordInstance(&handle);
  KestrumSetDebugOutput(NULL, NULL);
  free(buffer);
  close(fd);

  if (failed) {
    fprintf(stderr, "live_socket_host: the connection ended before the 40-byte header\n");
    return kExitNothingRecorded;
  }
  if (watch.headers_refused > 0) {
    fprintf(stderr, "live_socket_host: the stream's header was refused\n");
    return kExitNothingRecorded;
  }
  if (watch.samples_written == 0) {
    fprintf(stderr, "live_socket_host: nothing recorded into %s%s\n", output,
            watch.pieces_not_ready > 0 ? " (the output could not be prepared)" : "");
    return kExitNothingRecorded;
  }
  printf("recorded %ld samples into %s from %llu bytes received%s\n", watch.samples_written, output,
         (unsigned long long)received, g_stop ? " (stopped)" : "");
  return kExitRecorded;
}
