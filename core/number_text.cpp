#include "core/number_text.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace qova {

std::string FormatGeneral(double v, char sep) {
  if (v == 0.0) return "0";
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  // "d.dddddddddddddde±XX": the value rounded to 15 significant digits.
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  std::string sci(buf, res.ptr);
  const bool negative = sci[0] == '-';
  if (negative) sci.erase(0, 1);
  const size_t epos = sci.find('e');
  const int exponent = std::atoi(sci.c_str() + epos + 1);
  std::string digits = sci.substr(0, 1) + sci.substr(2, epos - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exponent >= -4 && exponent <= 14) {
    if (exponent < 0) {
      out += "0";
      out += sep;
      out.append(static_cast<size_t>(-exponent - 1), '0');
      out += digits;
    } else {
      const size_t intDigits = static_cast<size_t>(exponent) + 1;
      if (digits.size() <= intDigits) {
        out += digits;
        out.append(intDigits - digits.size(), '0');
      } else {
        out += digits.substr(0, intDigits);
        out += sep;
        out += digits.substr(intDigits);
      }
    }
  } else {
    out += digits.substr(0, 1);
    if (digits.size() > 1) {
      out += sep;
      out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(exponent);
  }
  return out;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view t) {
  while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
  while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
  return t;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<double> ParseFloat(std::string_view text, char sep) {
  text = Trim(text);
  // Validate the grammar with the user's separator, then hand a normalised
  // copy to the locale-independent parser.
  std::string norm;
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') norm += '-';
    ++i;
  }
  size_t mantissaDigits = 0;
  while (i < text.size() && IsDigit(text[i])) norm += text[i++], ++mantissaDigits;
  if (i < text.size() && text[i] == sep) {
    norm += '.';
    ++i;
    while (i < text.size() && IsDigit(text[i])) norm += text[i++], ++mantissaDigits;
  }
  if (mantissaDigits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    norm += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) norm += text[i++];
    size_t expDigits = 0;
    while (i < text.size() && IsDigit(text[i])) norm += text[i++], ++expDigits;
    if (expDigits == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  double v = 0;
  const auto res = std::from_chars(norm.data(), norm.data() + norm.size(), v);
  if (res.ec != std::errc() || res.ptr != norm.data() + norm.size() || !std::isfinite(v))
    return std::nullopt;
  return v;
}

std::optional<int32_t> ParseInt(std::string_view text) {
  text = Trim(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text[0] == '-') return std::nullopt;  // one sign at most
  int64_t v = 0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (res.ec != std::errc() || res.ptr != text.data() + text.size()) return std::nullopt;
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(v);
}

char LocaleDecimalSeparator() {
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return '.';
  const char* radix = nl_langinfo_l(RADIXCHAR, loc);
  // A multi-byte separator cannot be written to a single-byte file.
  const char sep = (radix && radix[0] && !radix[1]) ? radix[0] : '.';
  freelocale(loc);
  return sep;
}

}  // namespace qova
