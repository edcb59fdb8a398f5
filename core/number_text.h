#pragma once
// Numbers as the user reads them: the general format of every number the
// program writes (coordinate file, statistics, settings), its reverse, and the
// decimal separator of the user's locale.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qova {

// At most 15 significant digits, rounded from the exact binary value; "0" for
// zero; fixed notation when the rounded magnitude is at least 0.0001 and its
// integer part has at most 15 digits, else scientific ("1E-5", "1.5E20"); no
// trailing zeros. sep is the decimal separator.
std::string FormatGeneral(double v, char sep);

// Reverse of FormatGeneral: optional blanks, an optional sign, digits with an
// optional fraction after sep, an optional exponent. nullopt when the text is
// not such a number (or does not fit a double).
std::optional<double> ParseFloat(std::string_view text, char sep);

// A decimal integer with an optional sign, or hexadecimal after "0x"/"0X".
// nullopt for anything else, and for values outside 32 bits.
std::optional<int32_t> ParseInt(std::string_view text);

// The decimal separator of the user's LC_NUMERIC (LC_ALL, LC_NUMERIC, LANG),
// read without changing the process's own locale.
char LocaleDecimalSeparator();

}  // namespace qova
