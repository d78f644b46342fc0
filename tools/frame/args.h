// Command-line arguments of one command: options (--name, --name VALUE,
// --name=VALUE, -x VALUE, -xVALUE; -name and -name VALUE as ffmpeg writes
// its own), positionals, and number parsing with clear errors.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrum_cli {

struct OptionSpec {
  const char* name;  // without the leading dashes
  bool takes_value;
  char short_name = 0;  // e.g. 'v' for -v; 0 for none
  bool single_dash = false;  // also -name, as ffmpeg's options are written
  // An option that takes no value may take the next argument as one when
  // this says it is one (-v error); null: never.
  bool (*value_if)(const std::string&) = nullptr;
};

class Args {
 public:
  // Parses `argv` (the command's arguments, after the command name) against
  // `options`. "--" ends the options; "-" alone is a positional. On failure
  // returns false and describes the problem in `error` (an unknown long
  // option with the nearest known one suggested).
  bool Parse(const std::vector<std::string>& argv, const std::vector<OptionSpec>& options,
             std::string& error);

  bool Has(const std::string& name) const { return values_.count(name) != 0; }
  // The value of an option that takes one (the last given), if given.
  std::optional<std::string> Value(const std::string& name) const;
  const std::vector<std::string>& positionals() const { return positionals_; }
  // The options in the order given, each with its value ("" for none).
  const std::vector<std::pair<std::string, std::string>>& given() const { return given_; }
  // As if the option had (not) been given last.
  void Set(const std::string& name, const std::string& value);
  void Remove(const std::string& name);

 private:
  std::map<std::string, std::string> values_;
  std::vector<std::pair<std::string, std::string>> given_;
  std::vector<std::string> positionals_;
};

// Parses a whole unsigned number, decimal or 0x-prefixed hexadecimal, within
// [min, max]. On failure returns false and describes it in `error`, naming
// `what`.
bool ParseUnsigned(const std::string& text, uint64_t min, uint64_t max, const std::string& what,
                   uint64_t& value, std::string& error);

// Parses a byte count: a whole number with an optional suffix K, M or G
// (2^10, 2^20, 2^30 bytes), within [1, max]. On failure returns false and
// describes it in `error`, naming `what`.
bool ParseByteSize(const std::string& text, const std::string& what, uint64_t max,
                   uint64_t& value, std::string& error);

// Levenshtein distance: the edits (insert, delete, replace) from a to b.
size_t EditDistance(const std::string& a, const std::string& b);

// Of `candidates`, the one nearest `name`, when at most about half of
// `name` is wrong; nullptr when none is that near.
const char* Nearest(const std::string& name, const std::vector<const char*>& candidates);

}  // namespace kestrum_cli
