// Numbers and bytes as the host writes them in reports, messages and
// device-path text: the one hex formatter of the host side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// "0x" and upper-case hex digits, at least digits of them (0x1F, 0x001F).
std::string Hex(uint64_t value, int digits = 0);

// Upper-case hex pairs with separator between them: "08 09 01 00" (the
// default), "080901" with "".
std::string HexBytes(const uint8_t *bytes, size_t count, std::string_view separator = " ");
std::string HexBytes(const std::vector<uint8_t> &bytes);

// Text from input (a platform's name, a record's string, a debug message,
// a device-path text an error quotes) as a text report or a one-line
// message shows it: printable ASCII as it is, newline, carriage return and
// tab as \n, \r and \t, every other byte as \xHH (UTF-8 byte by byte: a
// C1 control, a right-to-left override, an emoji; and bytes that are not
// UTF-8), so that no input can start a line of its own, drive the terminal
// or reorder what it shows. Every line on standard error and every piece
// of input in text output goes through it; JSON output keeps the text
// exact instead.
std::string Escaped(std::string_view text);

// A count with its noun in the right number: "1 block", "2 blocks",
// "0 blocks".
std::string Counted(uint64_t count, std::string_view one, std::string_view many);

// UCS-2 text as ASCII, every character from 0x80 on as '?'.
std::string Narrow(std::u16string_view text);

}  // namespace sim
