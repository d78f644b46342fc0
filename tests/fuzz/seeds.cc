// Writes the starting corpus of every fuzz target, built from generated
// streams, into <directory>/<target>/: typical inputs, so that fuzzing starts
// from the paths real streams take rather than from nothing.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api/record_instance.h"
#include "asf_format/muxer.h"
#include "asf_format/tests/memory_sink.h"
#include "base/bytes.h"
#include "kestrum.h"
#include "support/memory_writer.h"
#include "support/stream_pieces.h"

namespace {

using namespace kestrum::testing;
using Bytes = std::vector<uint8_t>;

class Corpus {
 public:
  Corpus(std::filesystem::path root, const std::string& target) : dir_(root / target) {
    std::filesystem::create_directories(dir_);
  }
  void Add(const Bytes& bytes) {
    std::ofstream out(dir_ / ("input-" + std::to_string(count_++)), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

 private:
  std::filesystem::path dir_;
  int count_ = 0;
};

void PutU16(Bytes& out, uint16_t v) { out.push_back(uint8_t(v)), out.push_back(uint8_t(v >> 8)); }
void PutU32(Bytes& out, uint32_t v) { PutU16(out, uint16_t(v)), PutU16(out, uint16_t(v >> 16)); }
void Append(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// Small streams of each kind the recordings meet.
std::vector<StreamBuilder> Streams() {
  std::vector<StreamBuilder> streams(5);
  streams[0].Header().Groups(6, 40);
  streams[1]
      .Header(FileHeaderBuilder().StreamType(0x1003).Size(704, 288))
      .Add(Group().GroupType(0x1001).FrameType(0x1001).AddBlock(0x1001, 30).AddBlock(0x1003, 200))
      .Junk(17)
      .Add(Group().FrameType(0x1002).AddBlock(0x1004, 90).AddBlock(0x1005, 10))
      .Add(Group().FrameType(0x1003).AddBlock(0x1002, 5));
  streams[2]
      .Header(
          FileHeaderBuilder().StreamType(0x1002).Version(kResolutionCodeVersion).Resolution(0x1003))
      .Add(Group().GroupType(0x1001).AddBlock(0x1003, 1000))
      .Add(Group().Add(Block(0x1006).Payload(8, 1)))
      .Add(Group().GroupType(0x1001).AddBlock(0x1003, 64));
  streams[3].Header().Add(Group().BlockCount(0x1000)).Add(Group().AddBlock(0x1003, 3000)).Junk(5);
  streams[4].Header().Add(Group().AddBlock(0x1003, 20)).Add(Group().AddBlock(0x1004, 50));
  return streams;
}

Bytes Body(const StreamBuilder& s) { return s.Slice(40, s.size()); }

void FileHeaderSeeds(Corpus c) {
  c.Add(FileHeaderBuilder().Bytes());
  c.Add(FileHeaderBuilder().StreamType(0x1003).Size(704, 240).Bytes());
  c.Add(FileHeaderBuilder().Size(705, 576).Bytes());
  c.Add(FileHeaderBuilder().Version(kResolutionCodeVersion).Resolution(0x1008).Bytes());
  c.Add(FileHeaderBuilder()
            .Version(kResolutionCodeVersion)
            .VideoStandard(0x1002)
            .Resolution(0x1002)
            .Bytes());
}

void GroupSeeds(Corpus c, const std::vector<StreamBuilder>& streams) {
  uint8_t type = 1;
  for (const StreamBuilder& s : streams) {
    Bytes input{type++};
    Append(input, Body(s));
    c.Add(input);
  }
}

// Pieces of `body` of `piece` bytes each, 40 avoided, behind the header.
Bytes LiveScript(const StreamBuilder& s, size_t piece, bool restart) {
  Bytes script;
  PutU16(script, 40);
  Append(script, s.Slice(0, 40));
  for (const Bytes& p : SplitEvery(Body(s), piece)) {
    const size_t cut = p.size() == 40 ? 39 : p.size();
    PutU16(script, static_cast<uint16_t>(cut));
    script.insert(script.end(), p.begin(), p.begin() + static_cast<std::ptrdiff_t>(cut));
    if (cut != p.size()) {
      PutU16(script, 1);
      script.push_back(p.back());
    }
  }
  if (restart) PutU16(script, 0xFFFF);
  return script;
}

// Streams of a few MB, each holding more than the reassembly buffer's
// 1,024,000 bytes without a whole group, so that it fills: tag-filled junk
// (start codes whose group type never fits), and a group of three blocks of
// the largest payload; groups that may start a recording come after both.
std::vector<StreamBuilder> StreamsThatFillTheBuffer() {
  std::vector<StreamBuilder> streams(2);
  Bytes start_codes;
  for (size_t i = 0; i < 1'100'000 / 4; ++i) PutU32(start_codes, 1);
  streams[0].Header().Groups(3, 500).Raw(start_codes).Groups(20, 3000);
  Group largest = Group().FrameType(0x1001);
  for (int i = 0; i < 3; ++i) largest.AddBlock(0x1003, 499'999);
  streams[1].Header().Groups(3, 500).Add(largest).Groups(20, 3000);
  return streams;
}

void LiveRoadSeeds(Corpus c, const std::vector<StreamBuilder>& streams) {
  const size_t pieces[] = {7, 100, 1000, 65535};
  for (size_t i = 0; i < streams.size(); ++i) {
    c.Add(LiveScript(streams[i], pieces[i % 4], i == 3));
  }
  for (const StreamBuilder& s : StreamsThatFillTheBuffer()) {
    c.Add(LiveScript(s, 65535, false));
    c.Add(LiveScript(s, 10000, false));
  }
}

void Packet(Bytes& script, uint8_t kind, uint8_t how, uint32_t time, const Bytes& bytes) {
  script.push_back(kind);
  script.push_back(how);
  PutU32(script, time);
  PutU16(script, static_cast<uint16_t>(bytes.size()));
  Append(script, bytes);
}

void TransferSeeds(Corpus c, const std::vector<StreamBuilder>& streams) {
  for (const StreamBuilder& s : streams) {
    if (s.size() > 12000) continue;
    Bytes script{0};
    Packet(script, 0, 0, 0, s.Slice(0, 40));
    uint32_t time = 0;
    for (size_t g = 0; g < s.groups().size(); ++g, time += 40) {
      Packet(script, g % 3 == 2 ? 2 : 1, 0, time, s.GroupBytes(g));
    }
    c.Add(script);
  }
}

void MuxerSeeds(Corpus c) {
  for (const uint8_t setup : {uint8_t{0}, uint8_t{1}, uint8_t{4}}) {
    Bytes script{setup};
    PutU16(script, setup == 1 ? 1440 : 0);
    PutU32(script, setup == 4 ? 64'000 : 4'055'040);
    PutU16(script, 3000);
    for (uint32_t i = 0; i < 60; ++i) {
      script.push_back(static_cast<uint8_t>((i % 25 == 0 ? 4 : 0) | (setup == 1 && i % 3 == 0)));
      PutU32(script, i * 400'000);
      PutU16(script, 40);
      PutU16(script, static_cast<uint16_t>(200 + i * 97));
    }
    c.Add(script);
  }
}

void PacketSourceSeeds(Corpus c, const std::vector<StreamBuilder>& streams) {
  for (const StreamBuilder& s : streams) c.Add(s.bytes());
}

// The file the live road writes for `s`, in pieces of 1000 bytes: ended
// (StopRecord) or left as a killed recording leaves it, into a file or a
// stream (an output that cannot seek).
Bytes Recorded(const StreamBuilder& s, bool stop, bool stream) {
  auto output = std::make_shared<MemoryOutput>();
  output->sink.stream = stream;
  KestrumHandle handle = reinterpret_cast<KestrumHandle>(
      kestrum::RecordInstance::Create(MemoryWriterFactories(output)));
  if (handle == nullptr) return {};
  StartRecord(handle, "seed.asf", 0, 0);
  SendOneFrame(handle, s.bytes().data(), 40);
  for (const Bytes& piece : SplitEvery(Body(s), 1000)) {
    SendOneFrame(handle, piece.data(), static_cast<int32_t>(piece.size()));
  }
  if (stop) StopRecord(handle);
  ReleaseRecordInstance(&handle);
  return output->sink.bytes;
}

// Files our writer wrote: ended, never ended, cut short, written as a
// stream; of the small streams and of one of many packets with an index.
void AsfReaderSeeds(Corpus c, const std::vector<StreamBuilder>& streams) {
  for (const StreamBuilder& s : streams) c.Add(Recorded(s, true, false));
  StreamBuilder longer;  // a low declared rate: the smallest packets
  longer.Header(FileHeaderBuilder().RateFactor(1).RateBase(64'000)).Groups(60, 1500);
  const Bytes ended = Recorded(longer, true, false);
  c.Add(ended);
  c.Add(Bytes(ended.begin(), ended.begin() + static_cast<std::ptrdiff_t>(ended.size() * 2 / 3)));
  c.Add(Recorded(longer, false, false));
  c.Add(Recorded(streams[1], true, true));
}

// Files the muxer writes, of a video stream (and an audio one), in small
// packets: ended, never ended (with a durable count noted), written as a
// stream; cut short, with a page lost, with bytes after.
Bytes MuxerFile(uint32_t packet_size, bool audio, bool end, bool stream, size_t samples,
                uint64_t time_step = 400'000) {
  using namespace kestrum::asf;
  MemorySink sink;
  sink.stream = stream;
  FileInfo info;
  info.packet_size = packet_size;
  info.preroll_ms = 3000;
  StreamInfo video;
  video.number = 8;
  video.bitrate = 400'000;
  video.buffer_window_ms = 3000;
  video.avg_time_per_frame = 400'000;
  video.format.assign(80, 0);
  kestrum::store_u32le(video.format.data(), 80);
  info.streams.push_back(video);
  if (audio) {
    StreamInfo a;
    a.kind = MediaKind::kAudio;
    a.number = 6;
    a.format.assign(18, 0);
    info.streams.push_back(a);
  }
  {
    Muxer muxer(sink, info);
    if (Failed(muxer.Begin())) return {};
    Bytes sample;
    for (size_t i = 0; i < samples; ++i) {
      sample.assign(150 + (i * 397) % 1900, static_cast<uint8_t>(i * 7 + 1));
      const uint16_t number = audio && i % 3 == 2 ? 6 : 8;
      (void)muxer.WriteSample(number, i * time_step, 400'000, i % 10 == 0, sample.data(),
                              sample.size());
      if (i == samples / 2) (void)muxer.MarkDurable(sink.Size());
    }
    if (end) (void)muxer.End();
  }
  return sink.bytes;
}

void RepairSeeds(Corpus c) {
  const auto add = [&c](Bytes file) {
    file.insert(file.begin(), uint8_t{0x0B});  // options: stop a repair at a write
    c.Add(file);
  };
  const Bytes ended = MuxerFile(1000, false, true, false, 40);
  const Bytes unended = MuxerFile(3200, true, false, false, 60);
  add(ended);
  add(unended);
  add(MuxerFile(500, true, true, true, 30));
  add({ended.begin(), ended.begin() + static_cast<std::ptrdiff_t>(ended.size() / 2)});
  add({unended.begin(), unended.end() - 1500});
  Bytes lost = unended;
  if (lost.size() > 3 * 4096) std::fill(lost.end() - 2 * 4096, lost.end() - 4096, uint8_t{0});
  add(lost);
  Bytes after = ended;
  after.insert(after.end(), 3000, 0x47);
  add(after);
  // Samples 1.2 s apart: the muxer pads every packet. Never ended, with
  // bytes in the padding of a packet in the middle; and with a packet whose
  // duration (a field the muxer leaves zero) is not.
  const Bytes sparse = MuxerFile(1000, false, false, false, 20, 12'000'000);
  const uint8_t data_object[] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  const size_t data = static_cast<size_t>(
      std::search(sparse.begin(), sparse.end(), std::begin(data_object), std::end(data_object)) -
      sparse.begin());
  const size_t middle = data + 50 + 1000 * 5;
  add(sparse);
  if (middle + 1000 > sparse.size() || sparse[middle + 3] != 0x11) return;
  Bytes padded = sparse;
  const size_t padding = kestrum::load_u16le(padded.data() + middle + 5);
  std::fill(padded.begin() + static_cast<std::ptrdiff_t>(middle + 1000 - padding),
            padded.begin() + static_cast<std::ptrdiff_t>(middle + 1000), uint8_t{0x55});
  add(padded);
  Bytes timed = sparse;
  timed[middle + 11] = 0x40;
  add(timed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path root(argv[1]);
  const std::vector<StreamBuilder> streams = Streams();
  FileHeaderSeeds(Corpus(root, "file_header"));
  GroupSeeds(Corpus(root, "group"), streams);
  LiveRoadSeeds(Corpus(root, "live_road"), streams);
  TransferSeeds(Corpus(root, "transfer"), streams);
  MuxerSeeds(Corpus(root, "muxer"));
  PacketSourceSeeds(Corpus(root, "packet_source"), streams);
  AsfReaderSeeds(Corpus(root, "asf_reader"), streams);
  RepairSeeds(Corpus(root, "repair"));
  return 0;
}
