#pragma once
// What the box stores for each value of the tables, and the check that every value a send
// or a file writes fits it, made before the first byte is written.
#include <cstdint>
#include <optional>
#include <string>

#include "Controls.h"

constexpr ValueRange kMapValueRange{-32768, 32767};  // the program tables' values
constexpr ValueRange kConfigRange3{0, 65535};        // the 3-channel box's configuration
constexpr ValueRange kConfigRange2{0, 255};          // the 2-channel box's one byte
constexpr ValueRange kStartTimeRange{0, 255};        // one byte on the line

// The range of the configuration row's values on a box of `edition` ('3', else '2').
constexpr ValueRange ConfigRange(char edition) {
    return edition == '3' ? kConfigRange3 : kConfigRange2;
}
// How many of the configuration row's cells a box of `edition` stores.
int ConfigCells(char edition);

// Why the box cannot store `text` in a cell of `range` ("\"x\" is not a whole number",
// "40000 is outside -32768 to 32767"); empty when it can.
std::string WhyUnstorable(const std::string& text, ValueRange range);

// A value the box cannot store, and where it is.
struct UnstorableValue {
    int page;        // the page that shows it: 1..9 a program, 0 "Service"
    TextGrid* grid;  // null for the start time
    int col;
    int row;
    std::string where;  // "P1 CH1 PRESS_1 column 9", "Service Configuration column 2"
    std::string why;
    bool number;  // the text is a whole number, only out of range
};

// The first value a box of `edition` ('2' or '3') would be sent, in the order the send
// writes them (P1..P9, each CH1, CH2, then CH3 and FUEL% on a 3-channel box, row by row;
// the configuration; the start time), that the box cannot store.
std::optional<UnstorableValue> FindUnstorableValue(FormControls& form, char edition);

// Shows the page of `value` and makes its cell current, for the refusal whose message this
// returns: "<where>: <why>. <outcome>" (outcome such as "Nothing was sent.").
std::string ShowUnstorable(FormControls& form, const UnstorableValue& value,
                           const std::string& outcome);
