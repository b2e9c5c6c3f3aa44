// Texts of numbers and sizes, and the reading of numbers typed by users,
// shared by the engine and the front ends.
#pragma once

#include <cstdint>
#include <string>

namespace torvel {

// A pixel count in steps of 1000: "1.50 Megapixels".
std::string pixelCountText(int64_t value);
// Decimal with "." between groups of three, four groups at most: "1.234.567".
std::string dotThousands(int64_t value);
// A byte count with its unit: "512 bytes", "12.5 kB", "286 MB", "3.21 GB".
std::string byteSizeText(uint64_t bytes);
// "Not enough memory to hold <what> (<size>)".
std::string notEnoughMemoryFor(const std::string& what, uint64_t bytes);
uint32_t swapBytes32(uint32_t value);
// Reads like the standard text-to-integer conversion (decimal, or hexadecimal
// after "$", "x" or "0x"); 0 for anything else or outside 32 bits.
int32_t safeStrToInt(const std::string& text);
std::string upperCase(std::string text);

}  // namespace torvel
