// The document of `inspect --json` written as it is made, byte for byte as
// JsonText would write it whole: an object a FILE, written once the FILE is
// read, and a FILE's rows (--show-samples, --show-groups), each written as
// it comes, so that memory holds one row whatever the files' length.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "report/json_output.h"

namespace kestrum_cli {

class JsonDocument {
 public:
  explicit JsonDocument(std::FILE* out) : out_(out) {}
  JsonDocument(const JsonDocument&) = delete;
  JsonDocument& operator=(const JsonDocument&) = delete;

  // A FILE's object, whole.
  void File(const Json& file);
  // A FILE's object whose last field, `key`, is an array of rows: `file`'s
  // fields, then each Row, then EndRows.
  void BeginRows(const Json& file, const char* key);
  // False once the output cannot be written: the rows may stop there.
  bool Row(const Json& row);
  void EndRows();
  bool rows_open() const { return rows_open_; }
  // FILEs whose object is written or begun.
  uint64_t files() const { return files_; }

  // Ends the document. False when any of it could not be written.
  bool Finish();
  bool failed() const { return error_ != 0 || std::ferror(out_) != 0; }
  // Why the first write that failed did (errno), or 0.
  int error() const { return error_; }

 private:
  void Put(const std::string& text);
  // `value` as JsonText writes it, each of its lines after the first
  // indented by `indent` more spaces.
  void PutIndented(const Json& value, size_t indent);
  void BeginFile();

  std::FILE* out_;
  int error_ = 0;
  bool begun_ = false;      // the document's head is written
  uint64_t files_ = 0;      // FILEs whose object is written or begun
  bool rows_open_ = false;  // BeginRows without EndRows
  uint64_t rows_ = 0;       // rows of the open array
};

// Rows of a FILE that can be read only once (a stream on a pipe), held
// until the FILE's object can be written: in a temporary file of $TMPDIR
// (or /tmp), never in memory.
class RowSpool {
 public:
  RowSpool();
  ~RowSpool();
  RowSpool(const RowSpool&) = delete;
  RowSpool& operator=(const RowSpool&) = delete;

  // False (and the row dropped) when it cannot be held: error() says why.
  bool Add(const Json& row);
  // Writes every row held to `document`, between its BeginRows and EndRows.
  // False when one cannot be read back (error() says why) or `document`
  // failed.
  bool WriteTo(JsonDocument& document);
  const std::string& error() const { return error_; }

 private:
  std::FILE* file_ = nullptr;
  std::string error_;
};

}  // namespace kestrum_cli
