#pragma once
// Reading the command lines that drive the stand-ins: words, switches, numbers and modifier
// names, with errors a person can act on.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kit/base/Result.h"

namespace peers {

// Splits a line into words. Blanks separate words; "..." and '...' group blanks into a word (an
// empty pair gives an empty word). A backslash outside single quotes takes the next character as
// it is; inside double quotes "\n" and "\t" give a line feed and a tab. A line that is empty,
// blank or starts with "#" gives no words. An open quote or a trailing backslash is an error.
kit::Result<std::vector<std::string>> splitCommandLine(std::string_view line);

// "on", "yes", "true", "1" and "off", "no", "false", "0", in any case.
kit::Result<bool> parseSwitch(std::string_view word);

// A whole word as a signed 64-bit integer: decimal, or hexadecimal after "0x"; optional sign.
kit::Result<std::int64_t> parseInteger(std::string_view word);

// A whole word as a finite number ("12", "-3.5", "1e3").
kit::Result<double> parseNumber(std::string_view word);

// Hot-key modifier flags: an integer, or names joined by "+" or "|" (shift, control or ctrl,
// option or alt, command or cmd), giving the platform's flag bits.
kit::Result<std::uint32_t> parseModifierFlags(std::string_view word);

// The words from `first` on, joined by single blanks.
std::string joinWords(const std::vector<std::string>& words, std::size_t first, std::size_t end);

}  // namespace peers
