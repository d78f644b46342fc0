// The names of a series of files (an OUTPUT_PATTERN): numbered from 0
// ("cam1-%03d.asf"), or, with --strftime, made from the wall-clock time a
// file begins ("cam1-%Y%m%d-%H%M%S.asf"); and, for what a series may
// remove, whether a name that exists is one the pattern makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrum_cli {

class OutputPattern {
 public:
  // A numbered pattern: exactly one %d conversion, with an optional 0 flag
  // and width; "%%" stands for '%'. False, with `error` set, when
  // `pattern` is no such pattern.
  bool Parse(const std::string& pattern, std::string& error);
  // A pattern expanded by strftime(3), in UTC with `utc`, else in local
  // time. It takes the conversions that give digits, names or an offset
  // (%Y %m %d %H %M %S %j %a %b %p %z %s %F %T ..., %% for a '%'), and
  // needs at least one.
  bool ParseTimed(const std::string& pattern, bool utc, std::string& error);

  bool timed() const { return timed_; }
  // A numbered pattern's name for `number`.
  std::string Name(uint64_t number) const;
  // A timed pattern's name for a file that begins `seconds` after the
  // epoch; a `variant` n above 0 puts "-n" before the extension (the
  // pattern's end from its last '.', when nothing is converted there).
  std::string NameAt(int64_t seconds, uint64_t variant) const;

  // Whether every name is in one folder (no conversion in a folder's
  // name), and that folder as the pattern names it, with its '/' ("" for
  // the working folder): a name there is folder() + its entry.
  bool one_folder() const { return one_folder_; }
  const std::string& folder() const { return folder_; }
  // Whether `entry`, a name in folder(), is one the pattern makes: a
  // number's, or a time's (as the conversions write: digits, names, an
  // offset) with or without a variant.
  bool Makes(const std::string& entry) const;

  // A part of a timed name: literal text, or what a conversion writes.
  struct Token {
    enum Kind { kLiteral, kDigits, kPadded, kLetters, kOffset } kind = kLiteral;
    std::string text;         // kLiteral
    size_t min = 0, max = 0;  // characters
  };

 private:
  bool SplitFolder(const std::string& pattern, std::string& error);
  bool MakesTimed(const std::string& entry) const;

  std::string prefix_, suffix_;  // numbered: around the number
  bool zero_ = false;
  size_t width_ = 0;
  bool timed_ = false;
  bool utc_ = false;
  std::string format_;              // timed: strftime's format, the extension left out
  std::string extension_;           // timed: as written
  std::vector<Token> file_tokens_;  // timed: the file name's parts, the extension left out
  bool one_folder_ = false;
  std::string folder_;
};

}  // namespace kestrum_cli
