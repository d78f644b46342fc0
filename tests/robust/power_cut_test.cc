// Power cuts. A recording (through the exports, at real pace and at full
// speed), a conversion (kestrum convert --sync) and a repair (kestrum repair)
// write to a disk that loses power (power_cut_disk.h). At hundreds of points
// chosen at random (the seed is printed; KESTRUM_POWER_CUT_SEED sets it),
// what a power cut would leave is read back: ffprobe reads it wherever a
// sync had covered its header; a header that says the file ended stands
// over the whole file; after kestrum repair it is ended and indexed
// and holds the first samples written, sample for sample; and a recording
// with the default sync policy loses at most 2 s of what the host had sent.
// After the program reported success, a cut takes nothing away. A repair
// that rewrites the last packet it keeps, cut after each of its changes
// with each page it had written lost (or alone kept), is ended by the next
// repair as the clean repair ended it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

#include "asf_format/objects.h"
#include "asf_format/reader.h"
#include "kestrum.h"
#include "robust/power_cut_disk.h"
#include "robust/robust_support.h"
#include "support/expected_samples.h"

namespace kestrum::testing {
namespace {

using Clock = PowerCutDisk::Clock;
using Loss = PowerCutDisk::Loss;

constexpr std::chrono::milliseconds kFrame(40);
constexpr std::chrono::milliseconds kLossBound(2000);
// Checking what the cuts left stops after this long (the cuts checked are
// printed).
constexpr std::chrono::seconds kCheckBudget(45);

enum class Job { kRecordAtPace, kRecordFullSpeed, kConvert, kRepair };

struct Scenario {
  const char* name;
  Job job;
  size_t groups, min_payload, max_payload;
  size_t cuts;
  int32_t sync_interval_ms;  // a recording's (KestrumSetSyncInterval)
};

void PrintTo(const Scenario& s, std::ostream* out) { *out << s.name; }

uint32_t Seed() {
  const char* text = std::getenv("KESTRUM_POWER_CUT_SEED");
  return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 10))
                         : std::random_device{}();
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// Runs the program; its exit code, and what it printed in *out.
int RunProgram(const std::string& arguments, std::string* out) {
  const auto printed = RunCommand(Quoted(KESTRUM_PROGRAM) + " " + arguments +
                                  " 2>&1; echo \"exit $?\"");
  if (!printed) return -1;
  const size_t last = printed->rfind("exit ");
  *out = printed->substr(0, last);
  return std::atoi(printed->c_str() + last + 5);
}

// Ended as the writer ends a file: Broadcast cleared, its size as the header
// says, every sample whole; with `samples`, Seekable and its index whole (a
// file of none has no index to seek by).
void ExpectEnded(const std::string& path, size_t samples) {
  const std::unique_ptr<asf::ReadSource> source = asf::OpenReadFile(path);
  ASSERT_NE(source, nullptr) << path;
  asf::Reader reader(*source);
  ASSERT_TRUE(reader.Open()) << path << ": " << reader.error();
  const asf::HeaderInfo& h = reader.header();
  EXPECT_EQ(h.flags & asf::kFileFlagBroadcast, 0u) << path;
  EXPECT_EQ(h.flags & asf::kFileFlagSeekable, samples > 0 ? asf::kFileFlagSeekable : 0u) << path;
  EXPECT_EQ(h.file_size, h.source_size) << path;
  asf::MediaObject sample;
  while (reader.NextSample(&sample)) EXPECT_FALSE(sample.cut) << path;
  EXPECT_EQ(reader.indexes().size(), samples > 0 ? 1u : 0u) << path;
  EXPECT_FALSE(reader.truncated_index()) << path;
  EXPECT_TRUE(reader.problems().empty()) << path << ": " << reader.problems().front();
}

// What a cut left, `state`, saved at `path` and checked. Returns how many
// samples the repaired file holds (0 when nothing was left to repair).
size_t CheckState(const std::optional<PowerCutDisk::State>& state, const std::string& path,
                  const std::vector<ProbedPacket>& expected, const std::vector<uint8_t>& final,
                  const std::string& what) {
  if (!state) return 0;  // no entry for the file survived: nothing was synced
  WriteFile(path, state->bytes);
  if (state->synced > 0) {
    EXPECT_TRUE(ProbePackets(path).has_value()) << what << ": ffprobe cannot read it";
  }
  // A header that says the file ended stands over nothing lost: the file
  // is whole.
  if (const std::unique_ptr<asf::ReadSource> source = asf::OpenReadFile(path)) {
    asf::Reader reader(*source);
    if (reader.Open() && (reader.header().flags & asf::kFileFlagBroadcast) == 0) {
      EXPECT_TRUE(state->bytes == final) << what << ": ended over what was lost";
    }
  }
  std::string out;
  const int code = RunProgram("repair " + Quoted(path), &out);
  if (code == 4 && state->synced == 0) return 0;  // not even its header made it
  EXPECT_EQ(code, 0) << what << ": " << out;
  if (code != 0) return 0;
  const auto probed = ProbePackets(path);
  EXPECT_TRUE(probed.has_value()) << what << ": ffprobe cannot read the repaired file";
  if (!probed) return 0;
  const size_t n = std::min(probed->size(), expected.size());
  EXPECT_EQ(*probed, std::vector<ProbedPacket>(
                         expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(n)))
      << what << ": not the first samples written\n"
      << Describe(*probed);
  ExpectEnded(path, probed->size());
  return probed->size();
}

// A recording through the exports, one group per piece, `at_pace` one every
// 40 ms. *sent_at gets when each group was handed over.
void Record(const StreamBuilder& stream, const std::string& path, bool at_pace,
            std::atomic<int64_t>& sent, std::vector<Clock::time_point>* sent_at, bool stop = true) {
  KestrumHandle handle = CreateRecordInstance();
  ASSERT_EQ(StartRecord(handle, path.c_str(), 0, 0), 1);
  SendOneFrame(handle, stream.bytes().data(), 40);
  const Clock::time_point start = Clock::now();
  for (size_t i = 0; i < stream.groups().size(); ++i) {
    const GroupExtent& g = stream.groups()[i];
    SendOneFrame(handle, stream.bytes().data() + g.begin, static_cast<int32_t>(g.end - g.begin));
    if (sent_at != nullptr) sent_at->push_back(Clock::now());
    sent.store(static_cast<int64_t>(i + 1));
    if (at_pace) std::this_thread::sleep_until(start + kFrame * (i + 1));
  }
  if (stop) StopRecord(handle);
  ReleaseRecordInstance(&handle);  // without StopRecord: the file is left unended
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Quantiles and a histogram of `values` (seconds), in quarters of a second.
void PrintDistribution(const char* scenario, const char* what, std::vector<double> values) {
  if (values.empty()) return;
  std::sort(values.begin(), values.end());
  const auto at = [&](size_t percent) { return values[(values.size() - 1) * percent / 100]; };
  std::printf("%s: %s: min %.2f s, median %.2f s, 90%% %.2f s, max %.2f s\n", scenario, what,
              at(0), at(50), at(90), at(100));
  int buckets[9] = {};
  for (const double v : values) ++buckets[std::min(8, static_cast<int>(v / 0.25))];
  for (int b = 0; b < 9; ++b) {
    if (buckets[b] == 0) continue;
    if (b == 8) {
      std::printf("  >= 2.00 s: %d\n", buckets[b]);
    } else {
      std::printf("  < %.2f s: %d\n", (b + 1) * 0.25, buckets[b]);
    }
  }
}

// A repair cut by the power after each of its changes, with every page it
// had written since its last sync but one, and with only that one: the next
// repair leaves the file as the clean repair did, the same samples.
void RepairPageByPage(const PowerCutDisk& disk, const std::string& file, const std::string& path,
                      const std::vector<uint8_t>& clean) {
  size_t states = 0;
  for (size_t c = 0; c <= disk.Changes().size(); ++c) {
    for (size_t page = 0;; ++page) {
      const auto lost = disk.StateWithPage(c, file, page, false);
      if (!lost) break;
      for (const bool only : {false, true}) {
        WriteFile(path, only ? disk.StateWithPage(c, file, page, true)->bytes : lost->bytes);
        std::string out;
        ASSERT_EQ(RunProgram("repair " + Quoted(path), &out), 0) << out;
        EXPECT_TRUE(ReadFile(path) == clean) << "cut after change " << c << ", page " << page
                                             << (only ? " alone kept" : " lost") << ": " << out;
        ++states;
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  std::printf("repair: %zu states page by page\n", states);
}

class PowerCutTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(PowerCutTest, WhatACutLeavesIsRepairedToTheFirstSamples) {
  if (!HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
  const Scenario& s = GetParam();
  PowerCutDisk disk(std::string("power_cut_") + s.name);
  if (!disk.mounted()) GTEST_SKIP() << disk.why_not();
  const uint32_t seed = Seed();
  std::printf("%s: seed %u (KESTRUM_POWER_CUT_SEED=%u repeats it)\n", s.name, seed, seed);
  std::mt19937 random(seed);
  const StreamBuilder stream = RecordingStream(s.groups, s.min_payload, s.max_payload, seed);
  const bool live = s.job != Job::kConvert;
  const std::vector<ProbedPacket> expected =
      live ? ExpectedLivePackets(stream) : ExpectedFilePackets(stream);
  const std::string dir = TestDirectory(std::string("power_cut_") + s.name + "_states");
  const std::string file = "out.asf";

  std::atomic<int64_t> sent{0};
  std::vector<Clock::time_point> sent_at;
  sent_at.reserve(s.groups);
  disk.set_stamp([&sent] { return sent.load(); });
  const Clock::time_point started = Clock::now();
  if (s.job == Job::kRecordAtPace || s.job == Job::kRecordFullSpeed) {
    ASSERT_EQ(KestrumSetSyncInterval(-1), 1000) << "not the default policy";
    KestrumSetSyncInterval(s.sync_interval_ms);
    Record(stream, disk.Path(file), s.job == Job::kRecordAtPace, sent, &sent_at);
    KestrumSetSyncInterval(1000);
  } else if (s.job == Job::kConvert) {
    const std::string input = dir + "/stream.bin";
    WriteFile(input, stream.bytes());
    std::string out;
    ASSERT_EQ(RunProgram("convert --sync " + Quoted(input) + " " + Quoted(disk.Path(file)), &out), 0)
        << out;
  } else {
    // A recording released without StopRecord, cut short inside a packet,
    // as a power cut or a kill leaves one: cut so that the repair rewrites
    // the last packet it keeps, its padding then at least two pages long.
    const std::string unended = dir + "/unended.asf";
    Record(stream, unended, false, sent, nullptr, false);
    const std::vector<uint8_t> whole = ReadFile(unended);
    std::vector<uint8_t> bytes;
    std::string out;
    for (size_t cut_back = 1'000; bytes.empty() && cut_back < whole.size() / 2; cut_back += 997) {
      ASSERT_GT(whole.size(), cut_back + 10'000);
      const std::vector<uint8_t> cut(whole.begin(),
                                     whole.end() - static_cast<std::ptrdiff_t>(cut_back));
      WriteFile(unended, cut);
      ASSERT_EQ(RunProgram("repair " + Quoted(unended), &out), 0) << out;
      const asf::AsfFile repaired = asf::ReadAsfFile(ReadFile(unended));
      if (out.find("the last packet trimmed") != std::string::npos && !repaired.packets.empty() &&
          repaired.packets.back().padding >= 2 * 4096) {
        bytes = cut;
      }
    }
    ASSERT_FALSE(bytes.empty()) << "no cut has the repair rewrite a packet";
    disk.Put(file, bytes);
    ASSERT_EQ(RunProgram("repair " + Quoted(disk.Path(file)), &out), 0) << out;
  }
  const Clock::time_point ended = Clock::now();
  const std::vector<PowerCutDisk::Change> changes = disk.Changes();
  const std::optional<std::vector<uint8_t>> final_bytes = disk.Current(file);
  ASSERT_TRUE(final_bytes.has_value());
  std::printf("%s: %.2f s, %zu changes to the disk, %zu bytes in the end\n", s.name,
              Seconds(ended - started), changes.size(), final_bytes->size());

  // Once the program has reported success, or StopRecord has returned,
  // nothing is lost, however the power goes.
  for (const Loss loss : {Loss::kAll, Loss::kPrefix, Loss::kPages}) {
    const auto state = disk.StateAt(changes.size(), file, loss, random);
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->bytes, *final_bytes) << "a cut after the end lost what was written";
  }

  // The cuts: after a change chosen at random (the power going before the
  // next one), each a loss of a kind chosen at random; and after each of the
  // last changes, where the file is ended, every kind, pages five times.
  std::vector<std::pair<size_t, Loss>> cuts;
  for (size_t i = 0; i < s.cuts; ++i) {
    cuts.emplace_back(std::uniform_int_distribution<size_t>(0, changes.size())(random),
                      static_cast<Loss>(std::uniform_int_distribution<int>(0, 2)(random)));
  }
  for (size_t c = changes.size() - std::min<size_t>(changes.size(), 8); c < changes.size(); ++c) {
    for (const Loss loss : {Loss::kAll, Loss::kPrefix, Loss::kPages, Loss::kPages, Loss::kPages,
                            Loss::kPages, Loss::kPages}) {
      cuts.emplace_back(c, loss);
    }
  }
  std::sort(cuts.begin(), cuts.end());
  std::vector<double> losses, lags;  // s of media, and s before the cut, recordings
  const Clock::time_point checking = Clock::now();
  size_t checked = 0;
  for (const auto& [c, loss] : cuts) {
    if (Clock::now() - checking > kCheckBudget) break;
    const char* loss_name = loss == Loss::kAll ? "all" : loss == Loss::kPrefix ? "prefix" : "pages";
    const std::string what = std::string(s.name) + " cut after change " + std::to_string(c) + " of " +
                             std::to_string(changes.size()) + ", " + loss_name + " lost";
    const size_t kept = CheckState(disk.StateAt(c, file, loss, random), dir + "/state.asf",
                                   expected, *final_bytes, what);
    ++checked;
    if (HasFailure()) break;
    if (!live || s.job == Job::kRepair) continue;
    // What the host had handed over when the power went, before change c.
    const int64_t had_sent = c < changes.size() ? changes[c].stamp : static_cast<int64_t>(s.groups);
    const Clock::time_point when = c < changes.size() ? changes[c].at : ended;
    const int64_t lost = std::max<int64_t>(0, had_sent - static_cast<int64_t>(kept));
    losses.push_back(Seconds(kFrame * lost));
    lags.push_back(lost > 0 ? Seconds(when - sent_at[kept]) : 0.0);
    if (lost == 0) continue;
    // The first sample lost was handed over at most 2 s before the cut.
    EXPECT_LE(when - sent_at[kept], kLossBound)
        << what << ": lost " << lost << " samples, the first sent "
        << Seconds(when - sent_at[kept]) << " s before the cut";
    if (s.job == Job::kRecordAtPace) {
      EXPECT_LE(kFrame * lost, kLossBound) << what << ": lost " << lost << " samples";
    }
  }
  std::printf("%s: %zu cuts checked of %zu\n", s.name, checked, cuts.size());
  if (s.job == Job::kRepair) RepairPageByPage(disk, file, dir + "/state.asf", *final_bytes);
  PrintDistribution(s.name, "media lost against what the host had sent", losses);
  PrintDistribution(s.name, "how long before the cut the first sample lost was sent", lags);
}

// At real pace, 8 s with the default policy; at full speed, more and
// smaller groups in a few hundredths of a second, synced every millisecond
// so that they meet many syncs; a conversion; and a repair of a recording
// left unended.
INSTANTIATE_TEST_SUITE_P(
    Jobs, PowerCutTest,
    ::testing::Values(
        Scenario{"record_at_pace", Job::kRecordAtPace, 200, 2'000, 12'000, 100, 1000},
        Scenario{"record_full_speed", Job::kRecordFullSpeed, 1'500, 200, 2'500, 80, 1},
        Scenario{"convert", Job::kConvert, 300, 2'000, 12'000, 60, 0},
        Scenario{"repair", Job::kRepair, 300, 2'000, 12'000, 10, 0}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kestrum::testing
