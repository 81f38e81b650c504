#include "BoxImage.h"

#include <stdexcept>

#include "Charts.h"
#include "Conversions.h"

namespace {

constexpr int kRowBytes = 32;

// The image byte at `offset` lies at rx[1 + offset]; the whole span must fit.
void RequireInRx(size_t offset, size_t count) {
    if (1 + offset + count > kRxBufferSize) throw std::out_of_range("image cursor past the buffer");
}

void RequireInBuffer(std::span<uint8_t> buffer, size_t offset, size_t count) {
    if (offset + count > buffer.size()) throw std::out_of_range("image cursor past the buffer");
}

uint16_t ReadWord(const RxBufferT& rx, size_t offset) {
    return ::ReadWord(rx.data() + 1 + offset);
}

void WriteWord(std::span<uint8_t> buffer, size_t offset, int32_t value) {
    ::WriteWord(buffer.data() + offset, static_cast<uint16_t>(value & 0xFFFF));
}

// Rows of a program block in block order: CH1 rows 0..3, CH2 rows 0..3, CH3 rows 0..3,
// FUEL% row 0.
struct BlockRow {
    int table;
    int row;
};

BlockRow RowOfBlock(int r) {
    return r < 12 ? BlockRow{r / 4, r % 4} : BlockRow{3, 0};
}

void DecodeProgram(const RxBufferT& rx, TextGrid* grids[4], int rowsFromImage, uint16_t& cursor,
                   uint16_t blockSize) {
    RequireInRx(cursor, blockSize);
    size_t p = cursor;
    for (int c = 1; c <= 16; ++c) {
        for (int r = 0; r < 13; ++r) {
            const BlockRow at = RowOfBlock(r);
            const std::string text =
                r < rowsFromImage
                    ? ShortToText(static_cast<int16_t>(ReadWord(rx, p + kRowBytes * r)))
                    : IntToText(0);
            grids[at.table]->SetCell(c, at.row, text);
        }
        p += 2;
    }
    cursor = static_cast<uint16_t>(cursor + blockSize);
}

void EncodeProgram(TextGrid* grids[4], int rows, std::span<uint8_t> buffer, uint16_t& cursor,
                   uint16_t blockSize) {
    RequireInBuffer(buffer, cursor, static_cast<size_t>(rows) * kRowBytes);
    for (int c = 1; c <= 16; ++c) {
        for (int r = 0; r < rows; ++r) {
            const BlockRow at = RowOfBlock(r);
            const int32_t v = StrToInt(grids[at.table]->Cell(c, at.row));
            WriteWord(buffer, static_cast<size_t>(cursor) + kRowBytes * r, v);
        }
        cursor = static_cast<uint16_t>(cursor + 2);
    }
    cursor = static_cast<uint16_t>(cursor + blockSize - 32);
}

}  // namespace

void DecodeProgram3(const RxBufferT& rx, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3,
                    TextGrid& fuel, uint16_t& cursor) {
    TextGrid* grids[4] = {&ch1, &ch2, &ch3, &fuel};
    DecodeProgram(rx, grids, 13, cursor, kProgramBlock3);
}

void DecodeProgram2(const RxBufferT& rx, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3,
                    TextGrid& fuel, uint16_t& cursor) {
    TextGrid* grids[4] = {&ch1, &ch2, &ch3, &fuel};
    DecodeProgram(rx, grids, 8, cursor, kProgramBlock2);
}

namespace {
template <typename Decoder>
void DecodeImage(FormControls& form, const RxBufferT& rx, uint16_t& cursor, Decoder decode) {
    for (int n = 1; n <= 9; ++n) {
        decode(rx, form.ProgramGrid(n, ProgramTable::CH1), form.ProgramGrid(n, ProgramTable::CH2),
               form.ProgramGrid(n, ProgramTable::CH3), form.ProgramGrid(n, ProgramTable::Fuel),
               cursor);
    }
    RefreshCharts(form);
}
}  // namespace

void DecodeImage3(FormControls& form, const RxBufferT& rx, uint16_t& cursor) {
    DecodeImage(form, rx, cursor, DecodeProgram3);
}

void DecodeImage2(FormControls& form, const RxBufferT& rx, uint16_t& cursor) {
    DecodeImage(form, rx, cursor, DecodeProgram2);
}

void DecodeConfigRow(const RxBufferT& rx, TextGrid& config, uint16_t& cursor) {
    RequireInRx(cursor, kConfigRowSize3);
    for (int k = 0; k < 16; ++k) config.SetCell(k, 0, WordToText(ReadWord(rx, cursor + 2 * k)));
}

void EncodeProgram3(TextGrid& ch1, TextGrid& ch2, TextGrid& ch3, TextGrid& fuel,
                    std::span<uint8_t> buffer, uint16_t& cursor) {
    TextGrid* grids[4] = {&ch1, &ch2, &ch3, &fuel};
    EncodeProgram(grids, 13, buffer, cursor, kProgramBlock3);
}

void EncodeProgram2(TextGrid& ch1, TextGrid& ch2, std::span<uint8_t> buffer, uint16_t& cursor) {
    TextGrid* grids[4] = {&ch1, &ch2, nullptr, nullptr};
    EncodeProgram(grids, 8, buffer, cursor, kProgramBlock2);
}

void EncodeImage3(FormControls& form, std::span<uint8_t> buffer, uint16_t& cursor) {
    for (int n = 1; n <= 9; ++n) {
        EncodeProgram3(form.ProgramGrid(n, ProgramTable::CH1),
                       form.ProgramGrid(n, ProgramTable::CH2),
                       form.ProgramGrid(n, ProgramTable::CH3),
                       form.ProgramGrid(n, ProgramTable::Fuel), buffer, cursor);
    }
}

void EncodeImage2(FormControls& form, std::span<uint8_t> buffer, uint16_t& cursor) {
    for (int n = 1; n <= 9; ++n) {
        EncodeProgram2(form.ProgramGrid(n, ProgramTable::CH1),
                       form.ProgramGrid(n, ProgramTable::CH2), buffer, cursor);
    }
}

void EncodeConfigRow(TextGrid& config, std::span<uint8_t> buffer, uint16_t& cursor) {
    RequireInBuffer(buffer, cursor, kConfigRowSize3);
    for (int k = 0; k < 16; ++k) {
        WriteWord(buffer, static_cast<size_t>(cursor) + 2 * k, StrToInt(config.Cell(k, 0)));
    }
}
