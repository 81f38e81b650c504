#include "Conversions.h"

ConversionError::ConversionError(const std::string& text)
    : std::runtime_error("'" + text + "' is not a valid integer value"), text_(text) {}

bool TryStrToInt(const std::string& text, int32_t& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return false;
    // Accumulate in 64 bits; a run of digits longer than 10 is out of range anyway,
    // so stop early rather than overflow.
    int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch < '0' || ch > '9') return false;
        magnitude = magnitude * 10 + (ch - '0');
        if (magnitude > 2147483648LL) return false;
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX || signedValue < INT32_MIN) return false;
    value = static_cast<int32_t>(signedValue);
    return true;
}

int32_t StrToInt(const std::string& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value)) throw ConversionError(text);
    return value;
}

std::string ShortToText(int16_t value) {
    return std::to_string(value);
}
std::string IntToText(int32_t value) {
    return std::to_string(value);
}
std::string WordToText(uint16_t value) {
    return std::to_string(value);
}
std::string CharToText(uint8_t value) {
    return std::string(1, static_cast<char>(value));
}
