// Option values: the small grammars of the command line (WxH, X,Y, R,G,B, WxH+X+Y) and the
// typed view of a parsed command line.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "cli/tool.h"

namespace corvix::cli {
namespace {

// A signed decimal integer at the front of `text`, advancing it. No blanks, no "+".
std::optional<int64_t> take_integer(std::string_view &text) {
  int64_t v = 0;
  const char *end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (ec != std::errc() || p == text.data()) return std::nullopt;
  text.remove_prefix(static_cast<size_t>(p - text.data()));
  return v;
}

bool fits32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// Exactly `n` integers separated by commas, each fitting 32 bits.
std::optional<std::vector<int32_t>> integer_list(std::string_view text, int n) {
  std::vector<int32_t> out;
  for (int i = 0; i < n; ++i) {
    if (i > 0) {
      if (text.empty() || text.front() != ',') return std::nullopt;
      text.remove_prefix(1);
    }
    const auto v = take_integer(text);
    if (!v || !fits32(*v)) return std::nullopt;
    out.push_back(static_cast<int32_t>(*v));
  }
  if (!text.empty()) return std::nullopt;
  return out;
}

// WxH at the front of `text`, both at least 1.
std::optional<Size> take_size(std::string_view &text) {
  const auto w = take_integer(text);
  if (!w || text.empty() || (text.front() != 'x' && text.front() != 'X')) return std::nullopt;
  text.remove_prefix(1);
  const auto h = take_integer(text);
  if (!h || *w < 1 || *h < 1 || *w > INT32_MAX || *h > INT32_MAX) return std::nullopt;
  return Size{static_cast<int32_t>(*w), static_cast<int32_t>(*h)};
}

}  // namespace

std::optional<int64_t> parse_integer(std::string_view text) {
  const auto v = take_integer(text);
  if (!v || !text.empty()) return std::nullopt;
  return v;
}

std::optional<double> parse_number(std::string_view text) {
  if (text.empty() || text.size() > 64) return std::nullopt;
  const std::string s(text);
  char *end = nullptr;
  errno = 0;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || errno != 0 || !std::isfinite(v)) return std::nullopt;
  // strtod also reads hexadecimal and "inf"/"nan"; a number on our command line is decimal.
  if (s.find_first_not_of("+-.0123456789eE") != std::string::npos) return std::nullopt;
  return v;
}

std::optional<Size> parse_size(std::string_view text) {
  const auto s = take_size(text);
  if (!s || !text.empty()) return std::nullopt;
  return s;
}

std::optional<Point> parse_point(std::string_view text) {
  const auto v = integer_list(text, 2);
  if (!v) return std::nullopt;
  return Point{(*v)[0], (*v)[1]};
}

std::optional<Range> parse_range(std::string_view text) {
  const auto v = integer_list(text, 2);
  if (!v) return std::nullopt;
  return Range{(*v)[0], (*v)[1]};
}

std::optional<Colour> parse_colour(std::string_view text) {
  const auto v = integer_list(text, 3);
  if (!v) return std::nullopt;
  for (int32_t c : *v)
    if (c < 0 || c > 255) return std::nullopt;
  return Colour{(*v)[0], (*v)[1], (*v)[2]};
}

std::optional<Rect> parse_rect(std::string_view text) {
  const auto s = take_size(text);
  if (!s) return std::nullopt;
  int64_t at[2] = {0, 0};
  for (int64_t &v : at) {
    // "+3" or "-3": the sign belongs to the number, as in X geometry strings.
    if (text.empty() || (text.front() != '+' && text.front() != '-')) return std::nullopt;
    const bool negative = text.front() == '-';
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-' || text.front() == '+') return std::nullopt;
    const auto n = take_integer(text);
    if (!n) return std::nullopt;
    v = negative ? -*n : *n;
  }
  if (!text.empty()) return std::nullopt;
  // Both corners, (X, Y) and (X + W - 1, Y + H - 1), must be 32-bit coordinates.
  if (!fits32(at[0]) || !fits32(at[1]) || !fits32(at[0] + s->width - 1) ||
      !fits32(at[1] + s->height - 1)) {
    return std::nullopt;
  }
  return Rect{s->width, s->height, static_cast<int32_t>(at[0]), static_cast<int32_t>(at[1])};
}

std::string check_value(const OptionDef &def, std::string_view text) {
  switch (def.kind) {
    case Kind::kFlag:
    case Kind::kText: return {};
    case Kind::kInteger: {
      const auto v = parse_integer(text);
      if (!v) return "expected a whole number";
      if (*v < def.min || *v > def.max)
        return "must lie in " + std::to_string(def.min) + ".." + std::to_string(def.max);
      return {};
    }
    case Kind::kNumber: return parse_number(text) ? "" : "expected a number such as 12.5";
    case Kind::kSize:
      return parse_size(text) ? "" : "expected WxH with both at least 1, such as 640x480";
    case Kind::kPoint: return parse_point(text) ? "" : "expected X,Y such as 10,-4";
    case Kind::kRange: return parse_range(text) ? "" : "expected LOW,HIGH such as 16,235";
    case Kind::kColour:
      return parse_colour(text) ? "" : "expected R,G,B with each 0..255, such as 255,128,0";
    case Kind::kRect: return parse_rect(text) ? "" : "expected WxH+X+Y such as 100x50+10+20";
    case Kind::kChoice: {
      std::string_view words = def.choices;
      while (!words.empty()) {
        const size_t bar = words.find('|');
        if (words.substr(0, bar) == text) return {};
        if (bar == std::string_view::npos) break;
        words.remove_prefix(bar + 1);
      }
      return std::string("expected one of ") + def.choices;
    }
  }
  return "unknown option kind";
}

const std::string &Values::text(const std::string &name) const {
  const auto it = text_.find(name);
  if (it == text_.end()) throw UsageError("--" + name + " is required");
  return it->second;
}

// The getters re-parse text that check_value accepted, so they fail only on a programming
// error (an operation asking for an option of another kind).
namespace {
template <class T>
T must(const std::optional<T> &v, const std::string &name) {
  if (!v) throw UsageError("--" + name + ": bad value");
  return *v;
}
}  // namespace

int32_t Values::integer(const std::string &name) const {
  const int64_t v = must(parse_integer(text(name)), name);
  if (!fits32(v)) throw UsageError("--" + name + ": out of range");
  return static_cast<int32_t>(v);
}
double Values::number(const std::string &name) const {
  return must(parse_number(text(name)), name);
}
Size Values::size(const std::string &name) const { return must(parse_size(text(name)), name); }
Point Values::point(const std::string &name) const { return must(parse_point(text(name)), name); }
Range Values::range(const std::string &name) const { return must(parse_range(text(name)), name); }
Colour Values::colour(const std::string &name) const {
  return must(parse_colour(text(name)), name);
}
Rect Values::rect(const std::string &name) const { return must(parse_rect(text(name)), name); }

void assign_files(const Operation &op, const std::vector<std::string> &files,
                  std::vector<std::string> *inputs, std::string *output) {
  const size_t n = files.size();
  const std::string usage = std::string("usage: corvix ") + op.name + " [options] " + op.files;
  inputs->clear();
  output->clear();
  if (op.inputs < 0) {  // one or more inputs, then the output
    if (n < (op.output ? 2u : 1u))
      throw UsageError("expected " + std::string(op.files) + "\n" + usage);
    inputs->assign(files.begin(), files.end() - (op.output ? 1 : 0));
    if (op.output) *output = files.back();
  } else {
    const auto want = static_cast<size_t>(op.inputs);
    if (n == want + (op.output ? 1 : 0)) {
      inputs->assign(files.begin(), files.begin() + static_cast<long>(want));
      if (op.output) *output = files.back();
    } else if (op.output && n == want && want > 0) {
      *inputs = files;
      output->assign(1, '-');  // (assigning the literal trips a GCC 12 false warning)
    } else if (op.output && n == 0 && want == 1) {
      *inputs = {"-"};
      output->assign(1, '-');  // (assigning the literal trips a GCC 12 false warning)
    } else {
      throw UsageError(std::string("expected ") + (*op.files ? op.files : "no file") + ", got " +
                       std::to_string(n) + " file argument" + (n == 1 ? "" : "s") + "\n" + usage);
    }
  }
  int stdin_uses = 0;
  for (const std::string &f : *inputs) stdin_uses += f == "-";
  if (stdin_uses > 1) throw UsageError("standard input ('-') can be read only once");
  if (op.output && output->empty()) throw UsageError("the output file name is empty");
}

}  // namespace corvix::cli
