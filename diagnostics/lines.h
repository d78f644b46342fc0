// Every diagnostic line the library writes, defined once: the fixed lines,
// the printf formats of the lines that carry values, and the fixed parts by
// which a reader of the lines (the kestrum program) tells them apart. The
// library's code writes these names and the program matches them, so a line
// changes on both sides at once. docs/diagnostics.md says what each means.
//
// The bytes are the lines' own: no line ending unless the text has one, and
// one line (kBufferFull) in GBK, given as its bytes. A reader's pattern
// stands beside the line it reads, with a check that the two agree.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrum::lines {

// Compile-time checks between a line and a pattern that reads it.
namespace check {

constexpr bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

constexpr bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The conversion that begins at `at` (a '%' not followed by '%'), printf's
// or scanf's: flags, width, precision and length, then one letter or a
// scanf set "[...]". Returns the index past it.
constexpr size_t SkipConversion(std::string_view format, size_t at) {
  size_t i = at + 1;
  while (i < format.size() &&
         std::string_view("0123456789.-+ #*hlLqjzt").find(format[i]) != std::string_view::npos) {
    ++i;
  }
  if (i < format.size() && format[i] == '[') {
    ++i;
    if (i < format.size() && format[i] == '^') ++i;
    if (i < format.size() && format[i] == ']') ++i;  // a ']' first belongs to the set
    while (i < format.size() && format[i] != ']') ++i;
  }
  return i < format.size() ? i + 1 : i;
}

constexpr bool IsConversion(std::string_view format, size_t at) {
  return format[at] == '%' && (at + 1 >= format.size() || format[at + 1] != '%');
}

// The text of `format` before its first conversion.
constexpr std::string_view FixedHead(std::string_view format) {
  for (size_t i = 0; i < format.size(); ++i) {
    if (IsConversion(format, i)) return format.substr(0, i);
    if (format[i] == '%') ++i;
  }
  return format;
}

// True when two formats (a printf format and the scanf pattern that reads
// its lines back, or two printf formats of one family) have the same fixed
// text wherever both have text: their conversions are passed over in step,
// and one may end before the other (a pattern that reads a line's head).
constexpr bool FixedPartsAgree(std::string_view a, std::string_view b) {
  size_t i = 0;
  size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const bool a_converts = IsConversion(a, i);
    const bool b_converts = IsConversion(b, j);
    if (a_converts != b_converts) return false;
    if (a_converts) {
      i = SkipConversion(a, i);
      j = SkipConversion(b, j);
      continue;
    }
    if (a[i] != b[j]) return false;
    i += a[i] == '%' ? size_t{2} : size_t{1};  // "%%" is one '%'
    j += b[j] == '%' ? size_t{2} : size_t{1};
  }
  return true;
}

}  // namespace check

// DebugLineNumber's prefixes may be at most this long.
inline constexpr size_t kLongestNumberPrefix = 40;

// --- Preparing the output (both roads) ---------------------------------------

inline constexpr char kCreateWriter[] = "CreateWriter!";
inline constexpr char kConfigWriter[] = "ConfigWriter!";
// Live road: a data piece dropped because the output could not be prepared.
inline constexpr char kNotReady[] = "Not ready for Kestrum!";
// Live road: a 40-byte piece refused as a stream header.
inline constexpr char kWrongFileHeader[] = "Wrong File header!";

// --- Writing samples (live road, processgroup) -------------------------------

inline constexpr char kEnterProcessGroup[] = "enter processgroup";
inline constexpr char kVideoBlock[] = "VideoBlock!";
// Followed by the sample's time as a signed 32-bit number.
inline constexpr char kVideoTimePrefix[] = "videotime: ";
// A sample handed to the writer, 40 ms of media.
inline constexpr char kWriteSample[] = "!!!!Write Sample!!!!";
inline constexpr char kLeaveProcessGroup[] = "leave processgroup";
// Video blocks count, the sample's size, the largest sample.
inline constexpr char kGroupTooLargeFormat[] =
    "processgroup : group of %u video blocks needs %llu bytes, over %u; not written";
inline constexpr char kGroupTooLargePrefix[] = "processgroup : group of ";

static_assert(sizeof kVideoTimePrefix - 1 <= kLongestNumberPrefix);
static_assert(check::FixedHead(kGroupTooLargeFormat) == kGroupTooLargePrefix);

// --- Writing samples (file road, processpacket) ------------------------------

// Every line of a group packet written nothing for begins so.
inline constexpr char kPacketPrefix[] = "processpacket : ";
// The packet's length.
inline constexpr char kPacketNoGroupHeaderFormat[] =
    "processpacket : packet of %lu bytes holds no group header; not written";
// The block count field, the blocks it counts, the packet's length.
inline constexpr char kPacketBlocksPastEndFormat[] =
    "processpacket : block count field 0x%X counts %ld blocks, more than the packet's "
    "%lu bytes hold; not written";
// The block count field.
inline constexpr char kPacketNoBlocksFormat[] =
    "processpacket : block count field 0x%X counts no blocks; not written";

static_assert(check::StartsWith(kPacketNoGroupHeaderFormat, kPacketPrefix));
static_assert(check::StartsWith(kPacketBlocksPastEndFormat, kPacketPrefix));
static_assert(check::StartsWith(kPacketNoBlocksFormat, kPacketPrefix));

// --- Converting (file road) --------------------------------------------------

// Each fetch from the packet source: its result in decimal, nothing before.
inline constexpr char kFetchedPrefix[] = "";
// The fetch's line when more packets may follow (the source's result 0): one
// packet handed out, the first the header.
inline constexpr char kFetchedMore[] = "0";

static_assert(check::StartsWith(kFetchedMore, kFetchedPrefix));

// --- Splitting the live stream -----------------------------------------------

// A malformed block: its payload length (signed) and its kind.
inline constexpr char kBlockRefusedFormat[] = "-----------Splitter : block_size = %ld %08x";
// The group parser met a group without its start code.
inline constexpr char kNoGroupStartCode[] = "Splitter : 1";
// A malformed group inside a piece.
inline constexpr char kProcessFails[] = "Splitter : process fails!";
// The held bytes with this piece hold no group start, or the group completed
// there is malformed; they are dropped unless kSmallLeft follows at once.
inline constexpr char kHeldFail[] = "2--BR_FAIL";
// After kHeldFail: fewer than a group header's bytes are held, and kept.
inline constexpr char kSmallLeft[] = "Small left";
// "Splitter : " and "temporary buffer full" in GBK (code page 936): a group
// grew to the reassembly buffer's size without ending.
inline constexpr char kBufferFull[] = "Splitter : \xC1\xD9\xCA\xB1\xBB\xBA\xB3\xE5\xC2\xFA";
// Reading the host's piece faulted (Windows only); with its line feed.
inline constexpr char kMemMoveError[] = "Splitter : mem move error!\n";
// Stream type 0x1003: a group of group type 0x1000 started the recording;
// with its CR LF.
inline constexpr char kMultiStart[] = "multi !!!!!!!!!!!!!!!!!\r\n";
// The start rule met a stream type it does not know.
inline constexpr char kUnknownStreamType[] = "Splitter : Unknow Stream Type";

// --- Failures that reach an export -------------------------------------------

// The export's name, then what its call did not do.
inline constexpr char kExportOutOfMemoryFormat[] = "%s : out of memory; %s";
inline constexpr char kExportFailedFormat[] = "%s : failed; %s";

struct ExportUndone {
  const char* name;
  const char* undone;
};
inline constexpr ExportUndone kCreateRecordInstanceUndone{"CreateRecordInstance",
                                                          "no instance was made"};
inline constexpr ExportUndone kSendOneFrameUndone{"SendOneFrame", "the piece was dropped"};
inline constexpr ExportUndone kStopRecordUndone{"StopRecord", "writing may not have ended"};
inline constexpr ExportUndone kTransferToAsfUndone{"TransferToAsf", "the conversion was stopped"};

// --- The built-in writer: write faults and refused samples -------------------

// Every line of the built-in writer begins so.
inline constexpr char kWriterPrefix[] = "writer : ";

// A write failed (its HRESULT): an outage begins.
inline constexpr char kWriteFailedGoesOnFormat[] =
    "writer : write failed (0x%08X); samples are dropped until writing works again";
inline constexpr char kWriteFailedEndsFormat[] =
    "writer : write failed (0x%08X); writing ends here";
inline constexpr char kWritingEndsSuffix[] = "; writing ends here";
// Reads the code of either.
inline constexpr char kWriteFailedScan[] = "writer : write failed (0x%8x)";

// An outage closed: kOutageResumed or kOutageEnded, the samples lost and
// their media time in seconds.
inline constexpr char kOutageClosedFormat[] =
    "writer : %s; %llu samples (%.3f s of media) were lost";
inline constexpr char kOutageResumed[] = "writing works again";
inline constexpr char kOutageEnded[] = "writing ended";
// Reads which, the samples and the seconds (up to 31 bytes of the first).
inline constexpr char kOutageClosedScan[] = "writer : %31[a-z ]; %llu samples (%lf s";

// Ending the file, the index did not fit (the HRESULT).
inline constexpr char kIndexDidNotFitFormat[] =
    "writer : the index did not fit (0x%08X); the file is whole but has no index";
inline constexpr char kIndexDidNotFitScan[] = "writer : the index did not fit (0x%8x)";

// A sample refused: why (a kRefusal... text), its size, kRefusedAt its own
// time or kRefusedAfter the end of the latest sample given, in seconds.
inline constexpr char kSampleRefusedFormat[] = "writer : sample refused (%s): %llu bytes %s %.3f s";
inline constexpr char kRefusedAt[] = "at";
inline constexpr char kRefusedAfter[] = "after";
inline constexpr char kRefusalTooLarge[] = "sample over 16 MiB";
inline constexpr char kRefusalNoMemory[] = "out of memory";
inline constexpr char kRefusalTime[] = "time out of range";
// Reads why (up to 31 bytes).
inline constexpr char kSampleRefusedScan[] = "writer : sample refused (%31[^)])";

// Beginning the file failed (the HRESULT): it could not be opened, or its
// header written. Told once for a cause, until a file is begun: the live
// road tries again with each data piece.
inline constexpr char kBeginFailedFormat[] = "writer : the file could not be begun (0x%08X)";
inline constexpr char kBeginFailedScan[] = "writer : the file could not be begun (0x%8x)";

// Making the file durable failed (the HRESULT): what was written since the
// last sync that worked may not survive a power cut. Writing goes on; the
// line is not repeated until a sync has worked again.
inline constexpr char kSyncFailedFormat[] =
    "writer : sync failed (0x%08X); the latest writes may not survive a power cut";

static_assert(check::StartsWith(kWriteFailedGoesOnFormat, kWriterPrefix));
static_assert(check::StartsWith(kSyncFailedFormat, kWriterPrefix));
static_assert(check::StartsWith(kBeginFailedFormat, kWriterPrefix));
static_assert(check::FixedPartsAgree(kBeginFailedFormat, kBeginFailedScan));
static_assert(check::FixedPartsAgree(kWriteFailedGoesOnFormat, kWriteFailedScan));
static_assert(check::FixedPartsAgree(kWriteFailedEndsFormat, kWriteFailedScan));
static_assert(check::EndsWith(kWriteFailedEndsFormat, kWritingEndsSuffix));
static_assert(!check::EndsWith(kWriteFailedGoesOnFormat, kWritingEndsSuffix));
static_assert(check::StartsWith(kOutageClosedFormat, kWriterPrefix));
static_assert(check::FixedPartsAgree(kOutageClosedFormat, kOutageClosedScan));
static_assert(check::StartsWith(kIndexDidNotFitFormat, kWriterPrefix));
static_assert(check::FixedPartsAgree(kIndexDidNotFitFormat, kIndexDidNotFitScan));
static_assert(check::StartsWith(kSampleRefusedFormat, kWriterPrefix));
static_assert(check::FixedPartsAgree(kSampleRefusedFormat, kSampleRefusedScan));
// The scans' sets read the words the writer puts there.
static_assert(sizeof kOutageResumed <= 32 && sizeof kOutageEnded <= 32);
static_assert(std::string_view(kOutageResumed).find_first_not_of("abcdefghijklmnopqrstuvwxyz ") ==
                  std::string_view::npos &&
              std::string_view(kOutageEnded).find_first_not_of("abcdefghijklmnopqrstuvwxyz ") ==
                  std::string_view::npos);
static_assert(sizeof kRefusalTooLarge <= 32 && sizeof kRefusalNoMemory <= 32 &&
              sizeof kRefusalTime <= 32);

}  // namespace kestrum::lines
