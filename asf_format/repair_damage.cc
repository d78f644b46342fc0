#include "asf_format/repair_damage.h"

#include <string>
#include <vector>

#include "asf_format/reader.h"

namespace kestrum::asf {
namespace {

std::string N(uint64_t n) { return std::to_string(n); }

// The reader's bytes, through the repair's count of what it read.
class CountedSource final : public ReadSource {
 public:
  explicit CountedSource(CountingFile& file) : file_(file) {}
  uint64_t Size() const override { return file_.file.Size(); }
  bool ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    if (offset > Size() || size > Size() - offset) return false;
    return Succeeded(file_.ReadAt(offset, data, size));
  }

 private:
  CountingFile& file_;
};

// What is wrong in its packets, if anything.
std::string PacketDamage(const DamageFacts& f) {
  const auto offset = [&f](uint64_t packet) { return f.data_start + packet * f.packet_size; };
  if (f.stopped_at < f.declared_packets) {
    if (offset(f.stopped_at) + f.packet_size > f.size) {
      return "it ends at byte " + N(f.size) +
             (f.size > offset(f.stopped_at) ? ", inside packet " : ", before packet ") +
             N(f.stopped_at) + " of the " + N(f.declared_packets) + " its header counts";
    }
    return "packet " + N(f.stopped_at) + " (at byte " + N(offset(f.stopped_at)) +
           ") is not laid out as Kestrum's writer lays it out";
  }
  if (f.sample_left_open) {
    return "its last sample, begun in packet " + N(f.open_sample_packet) + " (at byte " +
           N(offset(f.open_sample_packet)) + "), does not end in its packets";
  }
  if (f.last_rewritten && f.packets_kept > 0) {
    return "the padding of packet " + N(f.packets_kept - 1) + " (at byte " +
           N(offset(f.packets_kept - 1)) + ") is not zeros";
  }
  return "";
}

}  // namespace

std::string DescribeDamage(const DamageFacts& f) {
  std::vector<std::string> parts;
  const std::string packets = PacketDamage(f);
  if (!packets.empty()) {
    parts.push_back(packets);
  } else {
    if (!f.header_matches) parts.push_back("its header's totals are not those of its packets");
    if (f.index == IndexState::kCut) {
      parts.push_back("its index is cut short: the file ends at byte " + N(f.size) +
                      ", before the index's end at byte " + N(f.index_end));
    } else if (f.index == IndexState::kDiffers) {
      parts.push_back("its index (at byte " + N(f.data_end) + ") is not the one its packets give");
    }
  }
  if (f.declared_size >= f.data_start && f.declared_size < f.size) {
    parts.push_back(N(f.size - f.declared_size) + " bytes follow its objects, from byte " +
                    N(f.declared_size));
  }
  if (parts.empty()) parts.push_back("it is not as its writer ended it");
  std::string text = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) text += "; " + parts[i];
  return text;
}

uint64_t CountReadableSamples(CountingFile& file, bool* cut_packet) {
  *cut_packet = false;
  CountedSource source(file);
  ReadOptions options;
  options.keep_payload = false;
  Reader reader(source, options);
  if (!reader.Open()) return 0;
  bool declared[128] = {};
  for (const StreamDescription& s : reader.header().streams) {
    if (s.declared) declared[s.number & kStreamNumberMask] = true;
  }
  uint64_t samples = 0;
  MediaObject sample;
  while (reader.NextSample(&sample)) {
    if (!sample.cut && declared[sample.stream & kStreamNumberMask]) ++samples;
  }
  *cut_packet = reader.trailing_bytes();
  return samples;
}

}  // namespace kestrum::asf
