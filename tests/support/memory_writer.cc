#include "support/memory_writer.h"

#include <utility>

#include "platform/wmsdk/writer.h"

namespace kestrum::testing {
namespace {

// The writer owns its sink and drops it at EndWriting; this one only passes
// the bytes on to the MemoryOutput, which stays.
class ForwardingSink final : public asf::ByteSink {
 public:
  explicit ForwardingSink(std::shared_ptr<MemoryOutput> output) : output_(std::move(output)) {}
  HRESULT Write(const uint8_t* data, size_t size) override {
    return output_->sink.Write(data, size);
  }
  HRESULT WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    return output_->sink.WriteAt(offset, data, size);
  }
  HRESULT ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    return output_->sink.ReadAt(offset, data, size);
  }
  HRESULT Truncate(uint64_t size) override { return output_->sink.Truncate(size); }
  bool seekable() const override { return output_->sink.seekable(); }
  uint64_t Size() const override { return output_->sink.Size(); }
  HRESULT Flush() override { return output_->sink.Flush(); }

 private:
  std::shared_ptr<MemoryOutput> output_;
};

}  // namespace

WmFactories MemoryWriterFactories(std::shared_ptr<MemoryOutput> output,
                                  std::optional<size_t> fail_after) {
  WmFactories factories = WmFactories::Platform();
  factories.create_writer = [output, fail_after](IUnknown*, IWMWriter** writer) {
    wmsdk::WriterOptions options;
    options.open_sink = [output, fail_after](const std::string&, HRESULT* error) {
      output->sink.bytes.clear();
      output->sink.fail_after.reset();
      if (fail_after) output->sink.fail_after = std::make_unique<size_t>(*fail_after);
      ++output->opens;
      *error = S_OK;
      return std::unique_ptr<asf::ByteSink>(new ForwardingSink(output));
    };
    options.file_id = [] { return GUID{0x4B455354, 0x5255, 0x4D00, {1, 2, 3, 4, 5, 6, 7, 8}}; };
    options.creation_time = [] { return uint64_t{133'000'000'000'000'000}; };
    return wmsdk::CreateWriter(std::move(options), writer);
  };
  return factories;
}

}  // namespace kestrum::testing
