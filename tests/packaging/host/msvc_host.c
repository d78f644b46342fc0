/* A Windows host built as with Visual Studio: compiled for the MSVC ABI
 * (clang --target=i686-pc-windows-msvc) and linked by lld-link against the
 * zip's Kestrum.lib, so that every call goes through the decorated __stdcall
 * import symbols (__imp__SendOneFrame@12) that the import library must map
 * onto Kestrum.dll's undecorated exports. No C run-time is at hand outside
 * Windows: the host has its own entry point and calls kernel32 alone.
 *
 * Run in a folder holding stream.xqv (a stream whose groups each hold one
 * video block), beside Kestrum.dll and Quarnel.dll. Records stream.xqv on the
 * live road into live.asf, in pieces of 1000 bytes, and converts it on the
 * file road into file.asf. Prints each failed expectation, or "msvc_host: ok"
 * when all held (a crash may still end in status 0 under Wine); the exit
 * status is their number. */
#include <stdint.h>

#include "kestrum.h"
#include "send_pieces.h"

typedef void* Handle;
#define KERNEL32 __declspec(dllimport)
KERNEL32 void __stdcall ExitProcess(unsigned int code);
KERNEL32 Handle __stdcall GetStdHandle(unsigned long which);
KERNEL32 int __stdcall WriteFile(Handle file, const void* data, unsigned long size,
                                 unsigned long* written, void* overlapped);
KERNEL32 Handle __stdcall CreateFileA(const char* name, unsigned long access, unsigned long share,
                                      void* security, unsigned long disposition,
                                      unsigned long flags, Handle template_file);
KERNEL32 int __stdcall ReadFile(Handle file, void* data, unsigned long size, unsigned long* read,
                                void* overlapped);
KERNEL32 int __stdcall CloseHandle(Handle file);
KERNEL32 unsigned long __stdcall GetFileAttributesA(const char* name);

enum { kStdOutput = (unsigned long)-11, kGenericRead = 0x80000000u, kOpenExisting = 3 };
#define kInvalidHandle ((Handle)(intptr_t)-1)
#define kNoFile 0xFFFFFFFFu

static unsigned char g_stream[8 << 20];
static unsigned int g_failures;

static void Print(const char* text) {
  unsigned long length = 0, written = 0;
  while (text[length] != '\0') ++length;
  WriteFile(GetStdHandle(kStdOutput), text, length, &written, 0);
}

static void Expect(int holds, const char* what) {
  if (holds) return;
  Print("FAIL: ");
  Print(what);
  Print("\r\n");
  ++g_failures;
}

static unsigned long ReadStream(void) {
  const Handle file = CreateFileA("stream.xqv", kGenericRead, 1, 0, kOpenExisting, 0, 0);
  if (file == kInvalidHandle) return 0;
  unsigned long size = 0, got = 0;
  while (size < sizeof g_stream &&
         ReadFile(file, g_stream + size, (unsigned long)sizeof g_stream - size, &got, 0) &&
         got > 0) {
    size += got;
  }
  CloseHandle(file);
  return size;
}

void HostMain(void) {
  const unsigned long size = ReadStream();
  Expect(size > KESTRUM_HEADER_SIZE && size < sizeof g_stream, "stream.xqv read");

  /* Live road, in pieces of 1000 bytes. */
  Expect(StartRecord(0, "live.asf", 0, 0) == 0, "StartRecord(null handle) returns 0");
  KestrumHandle handle = CreateRecordInstance();
  Expect(handle != 0, "CreateRecordInstance gives a handle");
  if (handle != 0 && size > KESTRUM_HEADER_SIZE) {
    Expect(StartRecord(handle, "live.asf", 0, 0) == 1, "StartRecord returns 1");
    SendPieces(handle, g_stream, (long)size, 1000);
    StopRecord(handle);
  }
  ReleaseRecordInstance(&handle);
  Expect(handle == 0, "ReleaseRecordInstance clears the handle");

  /* File road. */
  Expect(TransferToAsf((intptr_t)"missing.xqv", "missing.asf") == 0, "a missing source gives 0");
  Expect(TransferToAsf((intptr_t)"stream.xqv", "file.asf") == 1, "TransferToAsf returns 1");
  Expect(GetFileAttributesA("live.asf") != kNoFile, "the live road wrote live.asf");
  Expect(GetFileAttributesA("file.asf") != kNoFile, "the file road wrote file.asf");
  if (g_failures == 0) Print("msvc_host: ok\r\n");
  ExitProcess(g_failures);
}
