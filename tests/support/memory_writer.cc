#include "support/memory_writer.h"

#include <utility>

#include "wm_standin/writer.h"

namespace kestrum::testing {

WmFactories MemoryWriterFactories(std::shared_ptr<MemoryOutput> output,
                                  std::optional<size_t> fail_after) {
  WmFactories factories = WmFactories::LinkedSdk();
  factories.create_writer = [output, fail_after](IUnknown*, IWMWriter** writer) {
    wmsdk::WriterOptions options;
    options.open_sink = [output, fail_after](const std::string&, asf::Status* error) {
      output->sink.bytes.clear();
      output->sink.fail_after.reset();
      if (fail_after) output->sink.fail_after = std::make_unique<size_t>(*fail_after);
      ++output->opens;
      *error = asf::kOk;
      return std::unique_ptr<asf::ByteSink>(
          new asf::SharedSink(std::shared_ptr<asf::MemorySink>(output, &output->sink)));
    };
    options.file_id = [] { return asf::Guid{0x4B455354, 0x5255, 0x4D00, {1, 2, 3, 4, 5, 6, 7, 8}}; };
    options.creation_time = [] { return uint64_t{133'000'000'000'000'000}; };
    return wmsdk::CreateWriter(std::move(options), writer);
  };
  return factories;
}

}  // namespace kestrum::testing
