#include "api/status_words.h"

namespace kestrum {

const char* StatusWords(int32_t status) {
  switch (static_cast<uint32_t>(status)) {
    case 0:
      return "the input could not be opened";
    case 1:
      return "done";
    case 0x80070070u:
      return "disk full (or the file size limit reached)";
    case 0x800700CEu:
      return "name longer than 259 bytes";
    case 0x80070020u:
      return "output in use by another writer (or read by a conversion)";
    case 0x80070005u:
      return "permission denied";
    case 0x80070004u:
      return "too many open files";
    case 0x80070002u:
    case 0x80070003u:
      return "no such file or folder";
    case 0x80004003u:
      return "no output name";
    case 0x8007001Du:
      return "write fault (a removed or failing medium)";
    case 0x8007006Du:
      return "the output's reader went away (broken pipe)";
    case 0x8007001Eu:
      return "read fault";
    case 0x8007000Eu:
      return "out of memory";
    case 0x80070057u:
      return "invalid argument";
    case 0x800704C7u:
      return "stopped by its caller (cancelled)";
    case 0x80004001u:
      return "not implemented by the writer";
    case 0x80004005u:
      return "the stream header was refused or the writer could not be made";
    case 0xC00D002Bu:
      return "the writer was not ready for the request";
    case 0xC00D0BB8u:
      return "a format the ASF header cannot describe";
    default:
      return "an error the program does not know";
  }
}

}  // namespace kestrum
