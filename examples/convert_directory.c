/* A host that converts a directory of stored streams through the file road:
 * one TransferToAsf call per file, one after the other in one process.
 *
 *   convert_directory INPUT_DIR OUTPUT_DIR
 *
 * Every regular file of INPUT_DIR (not its subdirectories; names starting
 * with '.' are skipped), in name order, becomes OUTPUT_DIR/NAME.asf, NAME being
 * the file's name without its last extension. One line per file tells how it
 * went; the last line sums up.
 *
 * What a host must take care of, shown below:
 *  - TransferToAsf works on one instance that the library keeps for the whole
 *    process: calls must not overlap (no two threads converting at once).
 *    Calls one after another are fine: each ends and indexes its file, and
 *    the next one starts a fresh file;
 *  - `source` goes unchanged to the packet-source library; the one that comes
 *    with Kestrum takes a pointer to the stream's path;
 *  - results: 0 the source could not be opened; 1 the conversion ran to its
 *    end; negative, a failure status (a refused stream header, an output that
 *    could not be created, a name longer than 259 bytes, a file that could not
 *    be finished). A packet source that hands out no header packet ends with
 *    1 and no file, so a host that needs the file checks that it is there.
 *
 * Exit status: 0 every file converted; 1 at least one failed; 2 bad command
 * line or unreadable INPUT_DIR. */
#define _POSIX_C_SOURCE 200809L

#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "kestrum.h"

enum { kExitAllConverted = 0, kExitSomeFailed = 1, kExitUsage = 2 };

static int CompareNames(const void* a, const void* b) {
  return strcmp(*(char* const*)a, *(char* const*)b);
}

/* "DIR/NAME" in a new string (free it), or NULL. */
static char* JoinPath(const char* dir, const char* name, const char* suffix) {
  const size_t length = strlen(dir) + 1 + strlen(name) + strlen(suffix) + 1;
  char* path = malloc(length);
  if (path != NULL) snprintf(path, length, "%s/%s%s", dir, name, suffix);
  return path;
}

static int IsRegularFile(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

/* Converts one stream; prints its line; 1 when converted. */
static int ConvertOne(const char* input, const char* output) {
  remove(output); /* a file left from an earlier run must not pass for this one's */
  const int32_t result = TransferToAsf((intptr_t)input, output);
  struct stat st;
  if (result == 1 && stat(output, &st) == 0) {
    printf("ok      %s -> %s (%lld bytes)\n", input, output, (long long)st.st_size);
    return 1;
  }
  if (result == 1) {
    printf("FAILED  %s: no stream header came from the source, nothing was written\n", input);
  } else if (result == 0) {
    printf("FAILED  %s: the source could not be opened\n", input);
  } else {
    printf("FAILED  %s: status 0x%08X\n", input, (unsigned)result);
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("Usage: convert_directory INPUT_DIR OUTPUT_DIR\n", stderr);
    return kExitUsage;
  }
  const char* input_dir = argv[1];
  const char* output_dir = argv[2];
  DIR* dir = opendir(input_dir);
  if (dir == NULL) {
    perror(input_dir);
    return kExitUsage;
  }
  char** names = NULL;
  size_t count = 0;
  for (struct dirent* entry = readdir(dir); entry != NULL; entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    char** grown = realloc(names, (count + 1) * sizeof *names);
    if (grown == NULL) break;
    names = grown;
    names[count] = strdup(entry->d_name);
    if (names[count] != NULL) ++count;
  }
  closedir(dir);
  if (count > 0) qsort(names, count, sizeof *names, CompareNames);

  size_t converted = 0;
  size_t failed = 0;
  for (size_t i = 0; i < count; ++i) {
    char* input = JoinPath(input_dir, names[i], "");
    char* dot = strrchr(names[i], '.');
    if (dot != NULL && dot != names[i]) *dot = '\0';
    char* output = JoinPath(output_dir, names[i], ".asf");
    if (input != NULL && output != NULL && IsRegularFile(input)) {
      if (ConvertOne(input, output)) {
        ++converted;
      } else {
        ++failed;
      }
    }
    free(input);
    free(output);
    free(names[i]);
  }
  free(names);
  printf("%zu converted, %zu failed\n", converted, failed);
  return failed == 0 ? kExitAllConverted : kExitSomeFailed;
}
