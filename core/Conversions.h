#pragma once
// Text and number conversions shared by every routine that reads or writes a cell.
#include <cstdint>
#include <stdexcept>
#include <string>

// Raised when a cell text is not a decimal integer that fits in 32 bits.
// The message is what the user sees in the error box.
class ConversionError : public std::runtime_error {
  public:
    explicit ConversionError(const std::string& text);
    const std::string& Text() const { return text_; }

  private:
    std::string text_;
};

// Accepts an optional '+' or '-' followed by one or more decimal digits, nothing else
// (no blanks, no hexadecimal), whose value fits in a signed 32-bit integer.
int32_t StrToInt(const std::string& text);

// Non-throwing form of the same rule, for callers that only need to know.
bool TryStrToInt(const std::string& text, int32_t& value);

std::string ShortToText(int16_t value);  // signed 16-bit, "%hd"
std::string IntToText(int32_t value);    // signed 32-bit, "%i"
std::string WordToText(uint16_t value);  // unsigned 16-bit, "%hu"
std::string CharToText(uint8_t value);   // one byte as a one-character text, "%c"
