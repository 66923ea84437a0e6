#pragma once
// Reading the spin factor typed by the user. The decimal separator is "." whatever the locale,
// so "0.1" means one tenth on every system and "0,1" is no number. Plain C++, no Qt.
#include <optional>
#include <string>
#include <string_view>

namespace tr4 {

// The number in text: optional surrounding blanks, an optional sign, digits with at most one
// ".", and an optional exponent ("1e-2"). No thousands separators, no "inf" or "nan"; a value
// beyond the range of a 32-bit float is no number either.
std::optional<float> TextToFloat(std::string_view text);

// The conversion error shown to the user: "'<text>' is not a valid floating point value".
std::string FloatConversionError(std::string_view text);

}  // namespace tr4
