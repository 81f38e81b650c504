#include "RangeText.h"

#include <cstdint>

#include "Conversions.h"

namespace {

constexpr size_t kNone = std::string::npos;

// The quote that closes a quoted field whose text starts at `from`; a doubled quote inside
// stands for one quote. kNone when none closes it.
size_t ClosingQuote(const std::string& text, size_t from) {
    for (size_t at = from; at < text.size(); ++at) {
        if (text[at] != '"') continue;
        if (at + 1 < text.size() && text[at + 1] == '"') {
            ++at;
            continue;
        }
        return at;
    }
    return kNone;
}

std::string Unquoted(const std::string& quoted) {
    std::string text;
    for (size_t at = 0; at < quoted.size(); ++at) {
        text += quoted[at];
        if (quoted[at] == '"') ++at;  // the second of a doubled quote
    }
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == kNone) return {};
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// The tab if the text has one, else the semicolon, else the comma; what stands between
// quotes does not count.
char SeparatorOf(const std::string& text) {
    bool semicolon = false;
    for (size_t at = 0; at < text.size(); ++at) {
        const char ch = text[at];
        if (ch == '"') {
            const size_t close = ClosingQuote(text, at + 1);
            if (close != kNone) at = close;
        } else if (ch == '\t') {
            return '\t';
        } else if (ch == ';') {
            semicolon = true;
        }
    }
    return semicolon ? ';' : ',';
}

}  // namespace

std::string RangeText(const TextGrid& grid, int col0, int row0, int col1, int row1) {
    std::string text;
    for (int row = row0; row <= row1; ++row) {
        for (int col = col0; col <= col1; ++col) {
            if (col > col0) text += '\t';
            text += grid.Cell(col, row);
        }
        text += '\n';
    }
    return text;
}

RangeBlock SplitRangeText(const std::string& text) {
    const char separator = SeparatorOf(text);
    const auto blank = [&](char ch) { return ch == ' ' || (ch == '\t' && separator != '\t'); };
    RangeBlock block;
    std::vector<std::string> fields;
    size_t at = 0;
    for (;;) {
        while (at < text.size() && blank(text[at])) ++at;
        std::string field;
        // A field in quotes, as spreadsheets write one that holds a separator, a quote or a
        // line end; a quote that nothing closes is a character of the field.
        if (at < text.size() && text[at] == '"') {
            const size_t close = ClosingQuote(text, at + 1);
            if (close != kNone) {
                field = Unquoted(text.substr(at + 1, close - at - 1));
                at = close + 1;
            }
        }
        while (at < text.size() && text[at] != separator && text[at] != '\n') field += text[at++];
        fields.push_back(Trimmed(field));
        if (at < text.size() && text[at] == separator) {
            ++at;
            continue;
        }
        block.push_back(std::move(fields));
        fields.clear();
        if (at >= text.size()) break;
        ++at;  // the line end
    }
    while (!block.empty() && block.back().size() == 1 && block.back().front().empty())
        block.pop_back();
    return block;
}

int PasteRange(TextGrid& grid, int col, int row, const RangeBlock& block, ValueRange range) {
    // Every field that lands is checked before the first cell changes.
    std::vector<std::pair<std::pair<int, int>, std::string>> writes;
    for (size_t r = 0; r < block.size(); ++r) {
        const int targetRow = row + static_cast<int>(r);
        if (targetRow >= grid.RowCount()) break;
        for (size_t c = 0; c < block[r].size(); ++c) {
            const int targetCol = col + static_cast<int>(c);
            if (targetCol >= grid.ColCount()) break;
            const std::string& field = block[r][c];
            // A spreadsheet's empty cell, or the tab it leaves at a line's end.
            if (field.empty()) continue;
            int32_t value = 0;
            if (!TryStrToInt(field, value)) {
                throw RangeError("Nothing was pasted: \"" + field + "\" in line " +
                                 std::to_string(r + 1) + ", field " + std::to_string(c + 1) +
                                 " of the copied block is not a whole number.");
            }
            if (value < range.low || value > range.high) {
                throw RangeError("Nothing was pasted: " + std::to_string(value) + " in line " +
                                 std::to_string(r + 1) + ", field " + std::to_string(c + 1) +
                                 " of the copied block is outside " + std::to_string(range.low) +
                                 " to " + std::to_string(range.high) + ".");
            }
            writes.push_back({{targetCol, targetRow}, std::to_string(value)});
        }
    }
    for (const auto& [place, text] : writes) grid.SetCell(place.first, place.second, text);
    return static_cast<int>(writes.size());
}
