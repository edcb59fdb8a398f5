#include "tools/detect/json_writer.h"

#include <charconv>
#include <cmath>

namespace qova {

std::string RoundTripNumber(double v) {
  char buffer[32];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::general, 17);
  return std::string(buffer, r.ptr);
}

namespace {

// The length of the UTF-8 sequence at text[i], 0 when it is not one (an
// overlong form, a surrogate, beyond U+10FFFF, cut short).
size_t Utf8Length(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char c = byte(i);
  size_t length = 0;
  uint32_t code = 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    length = 2;
    code = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    length = 3;
    code = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    length = 4;
    code = c & 0x07;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

void JsonWriter::Indent() {
  text_ += '\n';
  text_.append(2 * levels_.size(), ' ');
}

void JsonWriter::Separate() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) return;
  Level& level = levels_.back();
  if (!level.empty) text_ += level.inlined ? ", " : ",";
  if (!level.inlined) Indent();
  level.empty = false;
}

void JsonWriter::Open(char bracket, bool inlined) {
  Separate();
  text_ += bracket;
  // Inside an inline container everything stays on its line.
  const bool parentInline = !levels_.empty() && levels_.back().inlined;
  levels_.push_back({inlined || parentInline});
}

void JsonWriter::Close(char bracket) {
  const Level level = levels_.back();
  levels_.pop_back();
  if (!level.inlined && !level.empty) Indent();
  text_ += bracket;
}

void JsonWriter::Key(std::string_view key) {
  Separate();
  Escaped(key);
  text_ += ": ";
  afterKey_ = true;
}

void JsonWriter::String(std::string_view text) {
  Separate();
  Escaped(text);
}

void JsonWriter::Number(double v) {
  Separate();
  text_ += std::isfinite(v) ? RoundTripNumber(v) : "null";
}

void JsonWriter::Int(int64_t v) {
  Separate();
  text_ += std::to_string(v);
}

void JsonWriter::Bool(bool v) {
  Separate();
  text_ += v ? "true" : "false";
}

void JsonWriter::Null() {
  Separate();
  text_ += "null";
}

void JsonWriter::Escaped(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  text_ += '"';
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8Length(text, i);
    if (length == 0) {
      text_ += "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
      ++i;
      continue;
    }
    if (length > 1) {
      text_.append(text.substr(i, length));
    } else if (c == '"' || c == '\\') {
      text_ += '\\';
      text_ += static_cast<char>(c);
    } else if (c == '\n') {
      text_ += "\\n";
    } else if (c == '\r') {
      text_ += "\\r";
    } else if (c == '\t') {
      text_ += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      text_ += "\\u00";
      text_ += kHex[c >> 4];
      text_ += kHex[c & 15];
    } else {
      text_ += static_cast<char>(c);
    }
    i += length;
  }
  text_ += '"';
}

}  // namespace qova
