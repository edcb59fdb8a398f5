#include "calib/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <unordered_set>

namespace qova::calib {
namespace {

constexpr int kMaxDepth = 200;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  Json Document() {
    SkipSpace();
    Json value = Value(0);
    SkipSpace();
    if (pos_ != text_.size()) Fail("text after the end of the document");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const { throw JsonSyntaxError(pos_, why); }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

  void SkipSpace() {
    while (!AtEnd() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' ||
                        text_[pos_] == '\r'))
      ++pos_;
  }

  void Expect(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) Fail("expected " + std::string(word));
    pos_ += word.size();
  }

  Json Value(int depth) {
    if (depth > kMaxDepth) Fail("nested deeper than 200 levels");
    if (AtEnd()) Fail("the document ends where a value should be");
    switch (Peek()) {
      case '{':
        return ObjectValue(depth);
      case '[':
        return ArrayValue(depth);
      case '"':
        return Json(StringValue());
      case 't':
        Expect("true");
        return Json(true);
      case 'f':
        Expect("false");
        return Json(false);
      case 'n':
        Expect("null");
        return Json();
      default:
        return Json(NumberValue());
    }
  }

  Json ObjectValue(int depth) {
    ++pos_;
    Json object = Json::Object();
    std::unordered_set<std::string> keys;
    SkipSpace();
    if (Peek() == '}') {
      ++pos_;
      return object;
    }
    for (;;) {
      SkipSpace();
      if (Peek() != '"') Fail("expected a key in quotes");
      const size_t keyAt = pos_;
      std::string key = StringValue();
      if (!keys.insert(key).second) {
        pos_ = keyAt;
        Fail("the key \"" + key + "\" appears twice");
      }
      SkipSpace();
      if (Peek() != ':') Fail("expected ':' after a key");
      ++pos_;
      SkipSpace();
      object.Append(std::move(key), Value(depth + 1));
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == '}') {
        ++pos_;
        return object;
      }
      Fail("expected ',' or '}' in an object");
    }
  }

  Json ArrayValue(int depth) {
    ++pos_;
    Json array = Json::Array();
    SkipSpace();
    if (Peek() == ']') {
      ++pos_;
      return array;
    }
    for (;;) {
      SkipSpace();
      array.Push(Value(depth + 1));
      SkipSpace();
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == ']') {
        ++pos_;
        return array;
      }
      Fail("expected ',' or ']' in an array");
    }
  }

  // JSON's grammar first (from_chars alone would take "1." or "+1" or "inf").
  double NumberValue() {
    const size_t start = pos_;
    auto digits = [&] {
      const size_t from = pos_;
      while (!AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      return pos_ > from;
    };
    if (Peek() == '-') ++pos_;
    if (Peek() == '0') {
      ++pos_;
    } else if (!digits()) {
      pos_ = start;
      Fail("expected a value");
    }
    if (Peek() == '.') {
      ++pos_;
      if (!digits()) Fail("expected digits after the decimal point");
    }
    if (Peek() == 'e' || Peek() == 'E') {
      ++pos_;
      if (Peek() == '+' || Peek() == '-') ++pos_;
      if (!digits()) Fail("expected digits in the exponent");
    }
    double v = 0;
    const auto [end, ec] = std::from_chars(text_.data() + start, text_.data() + pos_, v);
    if (ec == std::errc::result_out_of_range) {
      // Too small reads as the nearest double, a zero; too large is refused.
      if (DecimalExponent(text_.substr(start, pos_ - start)) > 0) {
        pos_ = start;
        Fail("a number out of the range of a double");
      }
      v = text_[start] == '-' ? -0.0 : 0.0;
    } else if (ec != std::errc() || end != text_.data() + pos_) {
      pos_ = start;
      Fail("a number that cannot be read");
    }
    return v;
  }

  // The power of ten of a number's first significant digit (the grammar
  // already checked), the exponent saturated: how large or small it is.
  static long DecimalExponent(std::string_view number) {
    if (number[0] == '-') number.remove_prefix(1);
    const size_t e = number.find_first_of("eE");
    long exponent = 0;
    if (e != std::string_view::npos) {
      const std::string_view digits = number.substr(e + 1);
      for (const char d : digits)
        if (d >= '0' && d <= '9') exponent = std::min(exponent * 10 + (d - '0'), 100000L);
      if (digits[0] == '-') exponent = -exponent;
      number = number.substr(0, e);
    }
    const size_t point = number.find('.');
    std::string_view whole = number.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : number.substr(point + 1);
    while (!whole.empty() && whole[0] == '0') whole.remove_prefix(1);
    if (!whole.empty()) return static_cast<long>(whole.size()) - 1 + exponent;
    const size_t first = fraction.find_first_not_of('0');
    if (first == std::string_view::npos) return -100000;  // zero
    return -static_cast<long>(first) - 1 + exponent;
  }

  unsigned Hex4() {
    unsigned code = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = Peek();
      unsigned d;
      if (c >= '0' && c <= '9') {
        d = static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        d = static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        d = static_cast<unsigned>(c - 'A' + 10);
      } else {
        Fail("expected four hexadecimal digits after \\u");
      }
      code = code * 16 + d;
      ++pos_;
    }
    return code;
  }

  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // One UTF-8 sequence of raw text, checked (no overlong forms, no
  // surrogates, nothing beyond U+10FFFF).
  void RawUtf8(std::string& out) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text_[pos_ + k]); };
    const unsigned char b0 = byte(0);
    int length = 0;
    unsigned code = 0, minimum = 0;
    if (b0 < 0x80) {
      length = 1, code = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
      length = 2, code = b0 & 0x1Fu, minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      length = 3, code = b0 & 0x0Fu, minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      length = 4, code = b0 & 0x07u, minimum = 0x10000;
    } else {
      Fail("text that is not UTF-8");
    }
    if (pos_ + static_cast<size_t>(length) > text_.size()) Fail("text that is not UTF-8");
    for (int k = 1; k < length; ++k) {
      if ((byte(static_cast<size_t>(k)) & 0xC0) != 0x80) Fail("text that is not UTF-8");
      code = (code << 6) | (byte(static_cast<size_t>(k)) & 0x3Fu);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      Fail("text that is not UTF-8");
    out.append(text_.substr(pos_, static_cast<size_t>(length)));
    pos_ += static_cast<size_t>(length);
  }

  std::string StringValue() {
    ++pos_;  // the opening quote
    std::string out;
    for (;;) {
      if (AtEnd()) Fail("a string without its closing quote");
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return out;
      }
      if (static_cast<unsigned char>(c) < 0x20) Fail("a control character inside a string");
      if (c != '\\') {
        RawUtf8(out);
        continue;
      }
      ++pos_;
      const char e = Peek();
      ++pos_;
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out += e;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          unsigned code = Hex4();
          if (code >= 0xD800 && code <= 0xDBFF) {
            if (text_.substr(pos_, 2) != "\\u") Fail("a lone surrogate in \\u");
            pos_ += 2;
            const unsigned low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF) Fail("a lone surrogate in \\u");
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          } else if (code >= 0xDC00 && code <= 0xDFFF) {
            Fail("a lone surrogate in \\u");
          }
          AppendUtf8(out, code);
          break;
        }
        default:
          --pos_;
          Fail("an unknown escape in a string");
      }
    }
  }

  std::string_view text_;
  size_t pos_ = 0;
};

void WriteString(std::string& out, std::string_view s) {
  static const char* const kHex = "0123456789abcdef";
  out += '"';
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\', out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (u < 0x20) {
      out += "\\u00", out += kHex[u >> 4], out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  out += '"';
}

bool IsScalar(const Json& v) { return !v.IsArray() && !v.IsObject(); }

}  // namespace

JsonSyntaxError::JsonSyntaxError(size_t offset, const std::string& why)
    : std::runtime_error("at byte " + std::to_string(offset) + ": " + why), offset_(offset) {}

std::string ShortestNumber(double v) {
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
  (void)ec;  // 64 bytes hold any double
  return std::string(buffer, end);
}

Json Json::Numbers(const std::vector<double>& values) {
  Json array = Array();
  array.items_.reserve(values.size());
  for (double v : values) array.items_.push_back(std::isfinite(v) ? Json(v) : Json());
  return array;
}

Json& Json::Push(Json value) {
  items_.push_back(std::move(value));
  return items_.back();
}

Json& Json::Set(std::string_view key, Json value) {
  for (Member& m : members_)
    if (m.first == key) {
      m.second = std::move(value);
      return m.second;
    }
  members_.emplace_back(std::string(key), std::move(value));
  return members_.back().second;
}

Json& Json::Append(std::string key, Json value) {
  members_.emplace_back(std::move(key), std::move(value));
  return members_.back().second;
}

const Json* Json::Find(std::string_view key) const {
  for (const Member& m : members_)
    if (m.first == key) return &m.second;
  return nullptr;
}

Json Json::Parse(std::string_view text) { return Reader(text).Document(); }

std::string Json::Write() const {
  std::string out;
  WriteTo(out, 0);
  out += '\n';
  return out;
}

void Json::WriteTo(std::string& out, int indent) const {
  const std::string pad(static_cast<size_t>(2 * (indent + 1)), ' ');
  const std::string close(static_cast<size_t>(2 * indent), ' ');
  switch (kind_) {
    case Kind::Null:
      out += "null";
      return;
    case Kind::Bool:
      out += bool_ ? "true" : "false";
      return;
    case Kind::Number:
      out += std::isfinite(number_) ? ShortestNumber(number_) : "null";
      return;
    case Kind::String:
      WriteString(out, string_);
      return;
    case Kind::Array: {
      bool flat = true;
      for (const Json& item : items_) flat = flat && IsScalar(item);
      out += '[';
      for (size_t i = 0; i < items_.size(); ++i) {
        if (i > 0) out += flat ? ", " : ",";
        if (!flat) out += '\n', out += pad;
        items_[i].WriteTo(out, indent + 1);
      }
      if (!flat && !items_.empty()) out += '\n', out += close;
      out += ']';
      return;
    }
    case Kind::Object:
      out += '{';
      for (size_t i = 0; i < members_.size(); ++i) {
        out += i > 0 ? ",\n" : "\n";
        out += pad;
        WriteString(out, members_[i].first);
        out += ": ";
        members_[i].second.WriteTo(out, indent + 1);
      }
      if (!members_.empty()) out += '\n', out += close;
      out += '}';
      return;
  }
}

}  // namespace qova::calib
