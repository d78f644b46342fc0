#include "io/output_pattern.h"

#include <ctime>
#include <string>

namespace kestrum_cli {

namespace {

constexpr size_t kMaxWidth = 20;
constexpr size_t kMaxNameLetters = 32;  // a day's or a month's name, a zone's

using Token = OutputPattern::Token;

// What strftime writes for conversion `c`, in tokens; false for a
// conversion a timed pattern does not take. The composite ones (%F, %T, %R)
// give their parts.
bool ConversionTokens(char c, std::vector<Token>& tokens) {
  const auto digits = [&tokens](size_t min, size_t max) {
    tokens.push_back({Token::kDigits, "", min, max});
  };
  const auto literal = [&tokens](const char* text) { tokens.push_back({Token::kLiteral, text}); };
  switch (c) {
    case 'Y':
    case 'G':
      digits(4, 4);
      return true;
    case 'm':
    case 'd':
    case 'H':
    case 'M':
    case 'S':
    case 'y':
    case 'C':
    case 'I':
    case 'U':
    case 'V':
    case 'W':
    case 'g':
      digits(2, 2);
      return true;
    case 'j':
      digits(3, 3);
      return true;
    case 'u':
    case 'w':
      digits(1, 1);
      return true;
    case 's':
      digits(1, 20);
      return true;
    case 'e':
    case 'k':
    case 'l':
      tokens.push_back({Token::kPadded, "", 2, 2});
      return true;
    case 'a':
    case 'A':
    case 'b':
    case 'B':
    case 'h':
    case 'p':
    case 'P':
    case 'Z':
      tokens.push_back({Token::kLetters, "", 1, kMaxNameLetters});
      return true;
    case 'z':
      tokens.push_back({Token::kOffset, "", 5, 5});
      return true;
    case 'F':
      digits(4, 4);
      literal("-");
      digits(2, 2);
      literal("-");
      digits(2, 2);
      return true;
    case 'T':
      digits(2, 2);
      literal(":");
      digits(2, 2);
      literal(":");
      digits(2, 2);
      return true;
    case 'R':
      digits(2, 2);
      literal(":");
      digits(2, 2);
      return true;
    default:
      return false;
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Whether character `c` at place `k` of a token's text fits its kind.
bool Fits(const Token& token, size_t k, char c) {
  switch (token.kind) {
    case Token::kDigits:
      return IsDigit(c);
    case Token::kPadded:
      return IsDigit(c) || (k == 0 && c == ' ');
    case Token::kLetters:
      return IsLetter(c);
    case Token::kOffset:
      return k == 0 ? c == '+' || c == '-' : IsDigit(c);
    case Token::kLiteral:
      break;
  }
  return false;
}

// Whether `text` from `at` on is made by `tokens` from `t` on.
bool MatchTokens(const std::string& text, size_t at, const std::vector<Token>& tokens, size_t t) {
  if (t == tokens.size()) return at == text.size();
  const Token& token = tokens[t];
  if (token.kind == Token::kLiteral) {
    return text.compare(at, token.text.size(), token.text) == 0 &&
           MatchTokens(text, at + token.text.size(), tokens, t + 1);
  }
  for (size_t n = 0; n < token.max && at + n < text.size() && Fits(token, n, text[at + n]);) {
    ++n;
    if (n >= token.min && MatchTokens(text, at + n, tokens, t + 1)) return true;
  }
  return false;
}

// Splits `pattern`, a part of the timed pattern `whole`, into tokens; false with `error` set at a
// conversion it does not take. `conversions` counts those it has.
bool TimedTokens(const std::string& pattern, const std::string& whole, std::vector<Token>& tokens,
                 size_t& conversions, std::string& error) {
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%' || (i + 1 < pattern.size() && pattern[i + 1] == '%')) {
      if (tokens.empty() || tokens.back().kind != Token::kLiteral) tokens.push_back({});
      tokens.back().text += pattern[i];
      if (pattern[i] == '%') ++i;
      continue;
    }
    if (i + 1 >= pattern.size() || !ConversionTokens(pattern[i + 1], tokens)) {
      error = "OUTPUT_PATTERN '" + whole + "' has '" + pattern.substr(i, 2) +
              "': --strftime takes the conversions that write digits, names or an offset "
              "(%Y %m %d %H %M %S %j %a %b %p %z %s %F %T ...); write %% for a '%'";
      return false;
    }
    ++conversions;
    ++i;
  }
  return true;
}

}  // namespace

bool OutputPattern::Parse(const std::string& pattern, std::string& error) {
  std::string* part = &prefix_;
  int conversions = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      *part += pattern[i];
      continue;
    }
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      *part += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    const bool zero = j < pattern.size() && pattern[j] == '0';
    if (zero) ++j;
    size_t width = 0;
    while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && width <= kMaxWidth) {
      width = width * 10 + static_cast<size_t>(pattern[j++] - '0');
    }
    if (j >= pattern.size() || pattern[j] != 'd' || width > kMaxWidth) {
      error = "OUTPUT_PATTERN '" + pattern + "' has '" + pattern.substr(i, j + 1 - i) +
              "': only %d (such as %03d) numbers the files; write %% for a '%'";
      return false;
    }
    ++conversions;
    zero_ = zero;
    width_ = width;
    part = &suffix_;
    i = j;
  }
  if (conversions != 1) {
    error = "OUTPUT_PATTERN '" + pattern +
            "' must hold exactly one %d (such as cam1-%03d.asf), not " +
            std::to_string(conversions);
    return false;
  }
  one_folder_ = suffix_.find('/') == std::string::npos;
  folder_ = one_folder_ ? prefix_.substr(0, prefix_.rfind('/') + 1) : "";
  return true;
}

std::string OutputPattern::Name(uint64_t number) const {
  std::string digits = std::to_string(number);
  if (digits.size() < width_) digits.insert(0, width_ - digits.size(), zero_ ? '0' : ' ');
  return prefix_ + digits + suffix_;
}
bool OutputPattern::SplitFolder(const std::string& pattern, std::string& error) {
  const size_t slash = pattern.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : pattern.substr(0, slash + 1);
  std::vector<Token> tokens;
  size_t conversions = 0;
  if (!TimedTokens(folder, pattern, tokens, conversions, error)) return false;
  one_folder_ = conversions == 0;
  folder_ = one_folder_ && !tokens.empty() ? tokens.front().text : "";
  return true;
}

bool OutputPattern::ParseTimed(const std::string& pattern, bool utc, std::string& error) {
  timed_ = true;
  utc_ = utc;
  const size_t slash = pattern.rfind('/');
  const size_t file_at = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = pattern.rfind('.');
  const bool has_extension =
      dot != std::string::npos && dot >= file_at && pattern.find('%', dot) == std::string::npos;
  format_ = has_extension ? pattern.substr(0, dot) : pattern;
  extension_ = has_extension ? pattern.substr(dot) : "";
  size_t conversions = 0;
  if (!SplitFolder(pattern, error) ||
      !TimedTokens(format_.substr(file_at), pattern, file_tokens_, conversions, error)) {
    return false;
  }
  if (conversions == 0 && !one_folder_) conversions = 1;
  if (conversions == 0) {
    error = "OUTPUT_PATTERN '" + pattern +
            "' has no time in it for --strftime (such as cam1-%Y%m%d-%H%M%S.asf)";
    return false;
  }
  return true;
}

std::string OutputPattern::NameAt(int64_t seconds, uint64_t variant) const {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm parts{};
#ifdef _WIN32
  if (utc_)
    gmtime_s(&parts, &time);
  else
    localtime_s(&parts, &time);
#else
  if (utc_)
    gmtime_r(&time, &parts);
  else
    localtime_r(&time, &parts);
#endif
  std::string name(format_.size() * 4 + 64, '\0');
  const size_t length =
      format_.empty() ? 0 : std::strftime(name.data(), name.size(), format_.c_str(), &parts);
  name.resize(length);
  if (variant > 0) {
    name += '-';
    name += std::to_string(variant);
  }
  return name + extension_;
}

bool OutputPattern::Makes(const std::string& entry) const {
  if (timed_) return MakesTimed(entry);
  const std::string path = folder_ + entry;
  if (path.size() <= prefix_.size() + suffix_.size() ||
      path.compare(0, prefix_.size(), prefix_) != 0 ||
      path.compare(path.size() - suffix_.size(), suffix_.size(), suffix_) != 0) {
    return false;
  }
  const std::string digits =
      path.substr(prefix_.size(), path.size() - prefix_.size() - suffix_.size());
  const size_t first = digits.find_first_not_of(' ');
  if (first == std::string::npos || digits.size() - first > kMaxWidth) return false;
  for (size_t i = first; i < digits.size(); ++i) {
    if (!IsDigit(digits[i])) return false;
  }
  return Name(std::stoull(digits.substr(first))) == path;
}

bool OutputPattern::MakesTimed(const std::string& entry) const {
  if (entry.size() < extension_.size() ||
      entry.compare(entry.size() - extension_.size(), extension_.size(), extension_) != 0) {
    return false;
  }
  const std::string stem = entry.substr(0, entry.size() - extension_.size());
  if (MatchTokens(stem, 0, file_tokens_, 0)) return true;
  // A variant: "-n", n from 1, before the extension.
  const size_t dash = stem.rfind('-');
  if (dash == std::string::npos || dash + 1 >= stem.size() || stem[dash + 1] == '0' ||
      stem.size() - dash - 1 > kMaxWidth) {
    return false;
  }
  for (size_t i = dash + 1; i < stem.size(); ++i) {
    if (!IsDigit(stem[i])) return false;
  }
  return MatchTokens(stem.substr(0, dash), 0, file_tokens_, 0);
}

}  // namespace kestrum_cli
