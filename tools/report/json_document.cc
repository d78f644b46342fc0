#include "report/json_document.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

#include "frame/escape.h"
#include "io/input_file.h"

namespace kestrum_cli {

namespace {

// The document's fields before its FILEs, and where a FILE's object stands.
constexpr size_t kFileIndent = 4;
constexpr size_t kRowIndent = kFileIndent + 4;

// A value as JsonText writes it, without the line end.
std::string Text(const Json& value, int indent) {
  return JsonWithoutActedCharacters(value.dump(indent, ' ', false, Json::error_handler_t::replace));
}

// Inside a JSON text a line end is never in a string (JSON escapes it), so
// every one begins a line of the layout.
std::string Indented(const std::string& text, size_t indent) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (const char c : text) {
    out += c;
    if (c == '\n') out.append(indent, ' ');
  }
  return out;
}

}  // namespace

void JsonDocument::Put(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), out_) != text.size() && error_ == 0) {
    error_ = errno != 0 ? errno : EIO;
  }
}

void JsonDocument::PutIndented(const Json& value, size_t indent) {
  Put(Indented(Text(value, 2), indent));
}

void JsonDocument::BeginFile() {
  if (!begun_) {
    Put("{\n  \"schema_version\": " + Text(Json(kJsonSchemaVersion), 2) + ",\n  \"files\": [");
    begun_ = true;
  }
  Put(files_++ > 0 ? ",\n" : "\n");
  Put(std::string(kFileIndent, ' '));
}

void JsonDocument::File(const Json& file) {
  BeginFile();
  PutIndented(file, kFileIndent);
}

void JsonDocument::BeginRows(const Json& file, const char* key) {
  BeginFile();
  // The object without its closing line, then the key of the array.
  std::string text = Text(file, 2);
  text.resize(text.size() - 2);  // "\n}"
  text += ",\n  " + Text(Json(key), 2) + ": [";
  Put(Indented(text, kFileIndent));
  rows_open_ = true;
  rows_ = 0;
}

bool JsonDocument::Row(const Json& row) {
  Put(rows_++ == 0 ? "\n" : ",\n");
  Put(std::string(kRowIndent, ' '));
  PutIndented(row, kRowIndent);
  return !failed();
}

void JsonDocument::EndRows() {
  // Built by appending: GCC 12 warns (wrongly) of overlap on "literal" + string.
  std::string close;
  if (rows_ > 0) close.append("\n").append(kRowIndent - 2, ' ');
  close.append("]\n").append(kFileIndent, ' ').append("}");
  Put(close);
  rows_open_ = false;
}

bool JsonDocument::Finish() {
  if (!begun_) {
    Put(Text(Json{{"schema_version", kJsonSchemaVersion}, {"files", Json::array()}}, 2) + "\n");
  } else {
    Put("\n  ]\n}\n");
  }
  if (std::fflush(out_) != 0 && error_ == 0) error_ = errno != 0 ? errno : EIO;
  return !failed();
}

RowSpool::RowSpool() {
#ifdef _WIN32
  file_ = std::tmpfile();
  if (file_ == nullptr) error_ = std::string("cannot hold its rows: ") + std::strerror(errno);
#else
  const int fd = MakeTemporaryFile(error_);
  if (fd < 0) return;
  file_ = ::fdopen(fd, "w+b");
  if (file_ == nullptr) {
    error_ = std::string("cannot hold its rows: ") + std::strerror(errno);
    ::close(fd);
  }
#endif
}

RowSpool::~RowSpool() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RowSpool::Add(const Json& row) {
  if (file_ == nullptr) return false;
  // One line a row: a compact JSON text holds no line end.
  const std::string text = row.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  if (std::fwrite(text.data(), 1, text.size(), file_) == text.size()) return true;
  error_ = "cannot hold its rows in a temporary file in '" + TemporaryFolder() +
           "': " + std::strerror(errno);
  std::fclose(file_);
  file_ = nullptr;
  return false;
}

bool RowSpool::WriteTo(JsonDocument& document) {
  if (file_ == nullptr) return true;  // none was added: Add fails without it
  if (std::fflush(file_) != 0 || std::fseek(file_, 0, SEEK_SET) != 0) {
    error_ = std::string("cannot read its rows back: ") + std::strerror(errno);
    return false;
  }
  std::string line;
  char chunk[4096];
  while (std::fgets(chunk, sizeof chunk, file_) != nullptr) {
    line += chunk;
    if (line.back() != '\n') continue;
    if (!document.Row(Json::parse(line))) return false;
    line.clear();
  }
  if (std::ferror(file_) != 0) {
    error_ = std::string("cannot read its rows back: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace kestrum_cli
