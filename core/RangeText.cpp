#include "RangeText.h"

#include <cstdint>

#include "Conversions.h"

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
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
    const char separator = text.find('\t') != std::string::npos  ? '\t'
                           : text.find(';') != std::string::npos ? ';'
                                                                 : ',';
    RangeBlock block;
    for (std::string line : Split(text, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        for (const std::string& field : Split(line, separator)) fields.push_back(Trimmed(field));
        block.push_back(std::move(fields));
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
