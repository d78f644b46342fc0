#include "wm_standin/reporting_sink.h"

#include <atomic>
#include <utility>

#include "platform/record_context.h"

namespace kestrum::wmsdk {
namespace {

class ReportingSink final : public asf::ByteSink {
 public:
  ReportingSink(std::unique_ptr<asf::ByteSink> sink, std::shared_ptr<RecordContext> record)
      : sink_(std::move(sink)), record_(std::move(record)) {
    record_->figures().reported.store(true, std::memory_order_relaxed);
    (void)Published(asf::kOk);
  }

  asf::Status Write(const uint8_t* data, size_t size) override {
    return Published(sink_->Write(data, size));
  }
  asf::Status WriteGather(const asf::ByteSpan* spans, size_t count) override {
    return Published(sink_->WriteGather(spans, count));
  }
  asf::Status WriteAt(uint64_t offset, const uint8_t* data, size_t size) override {
    return Published(sink_->WriteAt(offset, data, size));
  }
  asf::Status ReadAt(uint64_t offset, uint8_t* data, size_t size) override {
    return Told(sink_->ReadAt(offset, data, size));
  }
  asf::Status Truncate(uint64_t size) override { return Published(sink_->Truncate(size)); }
  uint64_t Size() const override { return sink_->Size(); }
  uint64_t HandedOver() const override { return sink_->HandedOver(); }
  asf::Status Flush() override { return Published(sink_->Flush()); }
  bool seekable() const override { return sink_->seekable(); }
  void StartWriteBack() override { sink_->StartWriteBack(); }

  // May run on another thread than the writes: what was handed over before
  // it began is what a sync that works makes durable.
  asf::Status Sync() override {
    const uint64_t handed_over = handed_over_.load(std::memory_order_acquire);
    const asf::Status status = Told(sink_->Sync());
    if (asf::Succeeded(status)) {
      // Syncs of one output come one at a time; the recording's figure is
      // the sum over its outputs.
      const uint64_t before = durable_.load(std::memory_order_relaxed);
      if (handed_over > before) {
        durable_.store(handed_over, std::memory_order_relaxed);
        record_->figures().bytes_durable.fetch_add(handed_over - before, std::memory_order_relaxed);
      }
    }
    return status;
  }

 private:
  asf::Status Told(asf::Status status) {
    if (asf::Failed(status) && status != asf::kNotSeekable) {
      record_->Failed(static_cast<HRESULT>(status.code()));
    }
    return status;
  }
  // On the writing thread, after a call that may change what the output holds.
  asf::Status Published(asf::Status status) {
    // Added as a difference (it wraps when the output was cut back): the
    // recording's figure is the sum over its outputs.
    const uint64_t size = sink_->Size();
    record_->figures().bytes_written.fetch_add(size - size_, std::memory_order_relaxed);
    size_ = size;
    handed_over_.store(sink_->HandedOver(), std::memory_order_release);
    return Told(status);
  }

  const std::unique_ptr<asf::ByteSink> sink_;
  const std::shared_ptr<RecordContext> record_;
  std::atomic<uint64_t> handed_over_{0};
  uint64_t size_ = 0;                 // the size last added to the recording's figure
  std::atomic<uint64_t> durable_{0};  // what this output's last sync that worked covered
};

}  // namespace

std::unique_ptr<asf::ByteSink> OpenReportingFileSink(const std::string& path, asf::Status* error) {
  std::unique_ptr<asf::ByteSink> sink = asf::OpenFileSink(path, error);
  RecordContext* record = CurrentRecord();
  if (record == nullptr) return sink;
  if (sink == nullptr) {
    if (error != nullptr) record->Failed(static_cast<HRESULT>(error->code()));
    return sink;
  }
  std::shared_ptr<RecordContext> shared = record->weak_from_this().lock();
  if (shared == nullptr) return sink;  // not one a recording holds
  return std::make_unique<ReportingSink>(std::move(sink), std::move(shared));
}

}  // namespace kestrum::wmsdk
