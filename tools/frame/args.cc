#include "frame/args.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace kestrum_cli {

namespace {

const OptionSpec* FindLong(const std::vector<OptionSpec>& options, const std::string& name) {
  for (const OptionSpec& o : options) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

// -name: an option written as ffmpeg writes its own.
const OptionSpec* FindSingleDash(const std::vector<OptionSpec>& options, const std::string& arg) {
  for (const OptionSpec& o : options) {
    if (o.single_dash && arg.compare(1, std::string::npos, o.name) == 0) return &o;
  }
  return nullptr;
}

// The text of an unknown option, with the nearest known one suggested.
std::string UnknownOption(const std::string& arg, const std::vector<OptionSpec>& options) {
  std::string error = "unknown option '" + arg + "'";
  const bool single = arg[1] != '-';
  if (single && arg.size() <= 2) return error;
  std::vector<const char*> names;
  for (const OptionSpec& o : options) {
    if (!single || o.single_dash) names.push_back(o.name);
  }
  const size_t skip = single ? 1 : 2;
  const std::string name = arg.substr(skip, arg.find('=') - skip);
  if (const char* nearest = Nearest(name, names)) {
    error += "; did you mean '" + std::string(single ? "-" : "--") + nearest + "'?";
  }
  return error;
}

const OptionSpec* FindShort(const std::vector<OptionSpec>& options, char c) {
  for (const OptionSpec& o : options) {
    if (o.short_name != 0 && o.short_name == c) return &o;
  }
  return nullptr;
}

}  // namespace

bool Args::Parse(const std::vector<std::string>& argv, const std::vector<OptionSpec>& options,
                 std::string& error) {
  values_.clear();
  given_.clear();
  positionals_.clear();
  bool options_ended = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (options_ended || arg.size() < 2 || arg[0] != '-') {
      positionals_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_ended = true;
      continue;
    }
    const OptionSpec* option_spec = nullptr;
    std::string inline_value;
    bool has_inline_value = false;
    if (arg[1] == '-') {
      std::string name = arg.substr(2);
      const size_t eq = name.find('=');
      if (eq != std::string::npos) {
        inline_value = name.substr(eq + 1);
        has_inline_value = true;
        name.resize(eq);
      }
      option_spec = FindLong(options, name);
    } else if ((option_spec = FindSingleDash(options, arg)) == nullptr) {
      // -x, or -xVALUE for an option that takes one.
      option_spec = FindShort(options, arg[1]);
      if (option_spec != nullptr && arg.size() > 2) {
        if (!option_spec->takes_value) option_spec = nullptr;
        inline_value = arg.substr(2);
        has_inline_value = true;
      }
    }
    if (option_spec == nullptr) {
      error = UnknownOption(arg, options);
      return false;
    }
    const std::string name = option_spec->name;
    if (!option_spec->takes_value) {
      const auto value_if = option_spec->value_if;
      if (has_inline_value && (value_if == nullptr || !value_if(inline_value))) {
        error = "option '--" + name + "' takes no value";
        return false;
      }
      if (!has_inline_value && value_if != nullptr && i + 1 < argv.size() &&
          value_if(argv[i + 1])) {
        inline_value = argv[++i];
      }
      Set(name, inline_value);
      continue;
    }
    if (!has_inline_value) {
      if (i + 1 >= argv.size()) {
        error = "option '--" + std::string(option_spec->name) + "' needs a value";
        return false;
      }
      inline_value = argv[++i];
    }
    Set(name, inline_value);
  }
  return true;
}

void Args::Set(const std::string& name, const std::string& value) {
  values_[name] = value;
  given_.emplace_back(name, value);
}

void Args::Remove(const std::string& name) {
  values_.erase(name);
  std::erase_if(given_, [&name](const auto& g) { return g.first == name; });
}

std::optional<std::string> Args::Value(const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

bool ParseUnsigned(const std::string& text, uint64_t min, uint64_t max, const std::string& what,
                   uint64_t& value, std::string& error) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  bool ok = !digits.empty();
  for (char c : digits) {
    const bool digit =
        (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    ok = ok && digit;
  }
  uint64_t parsed = 0;
  if (ok) {
    errno = 0;
    char* end = nullptr;
    parsed = std::strtoull(digits.c_str(), &end, hex ? 16 : 10);
    ok = errno == 0 && end != nullptr && *end == '\0';
  }
  if (!ok) {
    error = what + ": '" + text + "' is not a number";
    return false;
  }
  if (parsed < min || parsed > max) {
    error = what + ": " + text + " is outside " + std::to_string(min) + ".." + std::to_string(max);
    return false;
  }
  value = parsed;
  return true;
}

bool ParseByteSize(const std::string& text, const std::string& what, uint64_t max,
                   uint64_t& value, std::string& error) {
  std::string digits = text;
  unsigned shift = 0;
  if (!digits.empty()) {
    switch (digits.back()) {
      case 'K': case 'k': shift = 10; break;
      case 'M': case 'm': shift = 20; break;
      case 'G': case 'g': shift = 30; break;
      default: break;
    }
    if (shift != 0) digits.pop_back();
  }
  uint64_t number = 0;
  if (!ParseUnsigned(digits, 0, UINT64_MAX >> shift, what, number, error)) {
    error = what + " '" + text + "' is not a size in bytes (a number, with K, M or G after it)";
    return false;
  }
  value = number << shift;
  if (value == 0 || value > max) {
    error = what + " '" + text + "' is " +
            (value == 0 ? std::string("no size: 1 byte at least")
                        : "above the most, " + std::to_string(max) + " bytes");
    return false;
  }
  return true;
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

const char* Nearest(const std::string& name, const std::vector<const char*>& candidates) {
  const char* nearest = nullptr;
  size_t best = SIZE_MAX;
  for (const char* c : candidates) {
    const size_t d = EditDistance(name, c);
    if (d < best) {
      best = d;
      nearest = c;
    }
  }
  return best <= std::max<size_t>(2, name.size() / 2) ? nearest : nullptr;
}

}  // namespace kestrum_cli
