#include "commands/cut_inputs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "asf_format/header_objects.h"
#include "asf_format/objects.h"
#include "asf_format/reader.h"
#include "base/bytes.h"
#include "commands/packed_samples.h"
#include "io/kestrum_asf.h"
#include "frame/cli.h"
#include "io/input_file.h"
#include "io/output_path.h"
#include "stream_format/layout.h"

namespace kestrum_cli {

namespace asf = kestrum::asf;

namespace {

// Start times may step back this much between one file of a series and the
// next (the clock set meanwhile) before the order is taken to be wrong.
constexpr UnixMs kClockSlackMs = 1000;

// One input's header: its video format, the FileInfo its writer was given,
// its start time.
struct InputHeader {
  std::vector<uint8_t> format;
  asf::FileInfo info;
  std::optional<UnixMs> start;
};

// Reads the Header Object and the Data Object's header of `source`.
bool HeaderImage(asf::ReadSource& source, const asf::HeaderInfo& h, std::vector<uint8_t>& image) {
  const uint64_t size = h.header_size + asf::kDataObjectHeaderSize;
  if (size > source.Size()) return false;
  image.resize(static_cast<size_t>(size));
  return source.ReadAt(0, image.data(), image.size());
}

std::optional<int> ReadHeader(const std::string& command, const std::string& path,
                              InputHeader& header) {
  if (IsFolder(path)) return Fail(command, kExitInput, FolderInputMessage(path));
  // Opening a FIFO would wait for a writer; the reader seeks anyway.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return Fail(command, kExitInput,
                "cannot read '" + path + "': it is not a regular file (the reader seeks)");
  }
  const std::unique_ptr<asf::ReadSource> source = asf::OpenReadFile(path);
  if (source == nullptr) {
    return Fail(command, kExitInput, "cannot open '" + path + "': " + std::strerror(errno));
  }
  asf::Reader reader(*source, {asf::ReadChecks::kDamage, false});
  if (!reader.Open()) {
    return Fail(command, kExitNotStream, "'" + path + "' is not an ASF file: " + reader.error());
  }
  const asf::HeaderInfo& h = reader.header();
  std::string why = NotKestrumReason(h);
  std::vector<uint8_t> image;
  if (why.empty() && !HeaderImage(*source, h, image)) why = "its header cannot be read whole";
  if (why.empty()) asf::ReadDeclaredHeader(image, &header.info, &why);
  if (!why.empty()) {
    return Fail(command, kExitNotStream, "'" + path + "' was not written by Kestrum: " + why);
  }
  header.format = h.streams.front().format;
  header.start = FromFileTime(h.creation_time);
  return std::nullopt;
}

}  // namespace

std::optional<int> ReadCutInputs(const std::string& command, const std::vector<std::string>& paths,
                                 CutInputs& inputs) {
  std::vector<uint8_t> format;
  std::vector<FileId> ids;
  for (const std::string& path : paths) {
    const FileId id = IdOfPath(path);
    for (const FileId& earlier : ids) {
      if (id == earlier) return UsageError(command, "INPUT '" + path + "' is given twice");
    }
    ids.push_back(id);
    InputHeader header;
    if (const auto done = ReadHeader(command, path, header)) return done;
    if (inputs.files.empty()) {
      format = header.format;
      inputs.info = header.info;
      inputs.stream_type = static_cast<uint16_t>(
          kestrum::load_u32le(format.data() + asf::kBitmapInfoHeaderSize +
                              kestrum::stream_format::kFileHeaderStreamTypeOffset) &
          0xFFFF);
    } else if (header.format != format) {
      return Fail(command, kExitNotStream,
                  "'" + path + "' is not of the recording '" + paths.front() +
                      "' is: its stream header differs");
    }
    const CutInput& before = inputs.files.empty() ? CutInput{} : inputs.files.back();
    if (before.start && header.start && *header.start + kClockSlackMs < *before.start) {
      return Fail(command, kExitNotStream,
                  "'" + path + "' started at " + LocalTimeText(*header.start, TimeStyle::kText) +
                      ", before '" + before.path + "' given before it (" +
                      LocalTimeText(*before.start, TimeStyle::kText) +
                      "): the inputs are one recording's files in order");
    }
    inputs.files.push_back({path, header.start});
  }
  return std::nullopt;
}

}  // namespace kestrum_cli
