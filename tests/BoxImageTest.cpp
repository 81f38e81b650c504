#include <gtest/gtest.h>

#include <vector>

#include "BoxImage.h"
#include "Conversions.h"
#include "MemoryForm.h"

namespace {

// Where one value of the image lands in the tables.
struct Placement {
    char layout;      // '2' or '3'
    uint16_t offset;  // image offset of the high byte
    uint8_t high, low;
    int program;
    ProgramTable table;
    int col, row;
    const char* text;
};

void PutImageWord(RxBufferT& rx, uint16_t offset, uint8_t high, uint8_t low) {
    rx[1 + offset] = high;
    rx[2 + offset] = low;
}

void PrintTo(const Placement& c, std::ostream* os) {
    *os << c.layout << "-channel offset " << c.offset << " -> " << c.text;
}

class DecodeGolden : public testing::TestWithParam<Placement> {};

TEST_P(DecodeGolden, ValueLandsInItsCell) {
    const Placement& c = GetParam();
    MemoryForm form;
    RxBufferT rx{};
    PutImageWord(rx, c.offset, c.high, c.low);
    uint16_t cursor = 0;
    if (c.layout == '3') {
        DecodeImage3(form, rx, cursor);
        EXPECT_EQ(cursor, 3744);
    } else {
        DecodeImage2(form, rx, cursor);
        EXPECT_EQ(cursor, 2304);
    }
    EXPECT_EQ(form.Program(c.program, c.table).Cell(c.col, c.row), c.text);
    // Every other value cell reads "0".
    int nonZero = 0;
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            MemoryGrid& grid = form.Program(n, static_cast<ProgramTable>(t));
            for (int row = 0; row < grid.RowCount(); ++row) {
                for (int col = 1; col <= 16; ++col) nonZero += grid.Cell(col, row) != "0";
            }
        }
    }
    EXPECT_EQ(nonZero, std::string(c.text) == "0" ? 0 : 1);
}

using PT = ProgramTable;
INSTANTIATE_TEST_SUITE_P(
    Offsets, DecodeGolden,
    testing::Values(
        // First and last values of the 3-channel layout, with the edge values.
        Placement{'3', 0, 0x80, 0x00, 1, PT::CH1, 1, 0, "-32768"},
        Placement{'3', 0, 0xFF, 0xFF, 1, PT::CH1, 1, 0, "-1"},
        Placement{'3', 0, 0x7F, 0xFF, 1, PT::CH1, 1, 0, "32767"},
        Placement{'3', 3742, 0x7F, 0xFF, 9, PT::Fuel, 16, 0, "32767"},
        Placement{'3', 3742, 0x80, 0x00, 9, PT::Fuel, 16, 0, "-32768"},
        Placement{'3', 3742, 0xFF, 0xFF, 9, PT::Fuel, 16, 0, "-1"},
        Placement{'3', 3742, 0x00, 0x00, 9, PT::Fuel, 16, 0, "0"},
        // Offset 256: CH3 RPM of P1 in 3 channels, CH1 RPM of P2 in 2 channels.
        Placement{'3', 256, 0x01, 0x02, 1, PT::CH3, 1, 0, "258"},
        Placement{'2', 256, 0x01, 0x02, 2, PT::CH1, 1, 0, "258"},
        // Row and column strides inside a block.
        Placement{'3', 32 * 5 + 2 * 6, 0x00, 0x2A, 1, PT::CH2, 7, 1, "42"},
        Placement{'3', 416 * 4 + 32 * 11 + 2 * 15, 0xFF, 0xFE, 5, PT::CH3, 16, 3, "-2"},
        // First and last values of the 2-channel layout.
        Placement{'2', 0, 0x80, 0x00, 1, PT::CH1, 1, 0, "-32768"},
        Placement{'2', 0, 0xFF, 0xFF, 1, PT::CH1, 1, 0, "-1"},
        Placement{'2', 2302, 0x7F, 0xFF, 9, PT::CH2, 16, 3, "32767"},
        Placement{'2', 2302, 0xFF, 0xFF, 9, PT::CH2, 16, 3, "-1"},
        Placement{'2', 2302, 0x80, 0x00, 9, PT::CH2, 16, 3, "-32768"}));

TEST(DecodeImage2, ZeroesCh3AndFuelWhateverTheyHeld) {
    MemoryForm form;
    for (int n = 1; n <= 9; ++n) {
        form.Program(n, PT::CH3).SetCell(4, 2, "junk");
        form.Program(n, PT::Fuel).SetCell(16, 0, "77");
    }
    RxBufferT rx{};
    rx.fill(0xFF);
    uint16_t cursor = 0;
    DecodeImage2(form, rx, cursor);
    for (int n = 1; n <= 9; ++n) {
        EXPECT_EQ(form.Program(n, PT::CH3).Cell(4, 2), "0");
        EXPECT_EQ(form.Program(n, PT::Fuel).Cell(16, 0), "0");
        EXPECT_EQ(form.Program(n, PT::CH2).Cell(16, 3), "-1");
    }
}

TEST(DecodeImage, LeavesLabelColumnAlone) {
    MemoryForm form;
    form.Program(3, PT::CH2).SetCell(0, 1, "CORR_2");
    RxBufferT rx{};
    uint16_t cursor = 0;
    DecodeImage3(form, rx, cursor);
    EXPECT_EQ(form.Program(3, PT::CH2).Cell(0, 1), "CORR_2");
}

TEST(DecodeConfigRow, ReadsSixteenUnsignedWordsAtTheCursor) {
    MemoryGrid config(16, 1);
    RxBufferT rx{};
    PutImageWord(rx, 3744, 0xFF, 0xFF);       // column 0
    PutImageWord(rx, 3744 + 30, 0x80, 0x00);  // column 15
    uint16_t cursor = 3744;
    DecodeConfigRow(rx, config, cursor);
    EXPECT_EQ(config.Cell(0, 0), "65535");
    EXPECT_EQ(config.Cell(15, 0), "32768");
    EXPECT_EQ(config.Cell(7, 0), "0");
}

// Fills every value cell with a distinct text derived from its place.
std::string ValueFor(int program, int table, int col, int row) {
    const int v = (program * 7919 + table * 613 + col * 37 + row * 11) % 65536 - 32768;
    return std::to_string(v);
}

void FillAll(MemoryForm& form) {
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            MemoryGrid& grid = form.Program(n, static_cast<PT>(t));
            for (int row = 0; row < grid.RowCount(); ++row) {
                for (int col = 1; col <= 16; ++col)
                    grid.SetCell(col, row, ValueFor(n, t, col, row));
            }
        }
    }
}

TEST(EncodeImage3, WritesEveryValueAtItsOffsetAndRoundTrips) {
    MemoryForm form;
    FillAll(form);
    std::vector<uint8_t> buffer(3776, 0xAA);
    uint16_t cursor = 0;
    EncodeImage3(form, buffer, cursor);
    EXPECT_EQ(cursor, 3744);
    // Spot checks against the byte layout, computed independently of the encoder.
    const auto wordAt = [&](size_t offset) {
        return static_cast<int16_t>((buffer[offset] << 8) | buffer[offset + 1]);
    };
    EXPECT_EQ(std::to_string(wordAt(0)), ValueFor(1, 0, 1, 0));
    EXPECT_EQ(std::to_string(wordAt(3742)), ValueFor(9, 3, 16, 0));
    EXPECT_EQ(std::to_string(wordAt(416 + 32 * 9 + 2 * 3)), ValueFor(2, 2, 4, 1));
    EXPECT_EQ(buffer[3744], 0xAA) << "nothing written past the image";

    MemoryForm back;
    RxBufferT rx{};
    std::copy(buffer.begin(), buffer.begin() + 3744, rx.begin() + 1);
    cursor = 0;
    DecodeImage3(back, rx, cursor);
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            MemoryGrid& grid = back.Program(n, static_cast<PT>(t));
            for (int row = 0; row < grid.RowCount(); ++row) {
                for (int col = 1; col <= 16; ++col) {
                    ASSERT_EQ(grid.Cell(col, row), ValueFor(n, t, col, row))
                        << "P" << n << " table " << t << " (" << col << "," << row << ")";
                }
            }
        }
    }
}

TEST(EncodeImage2, ReadsOnlyCh1AndCh2) {
    MemoryForm form;
    FillAll(form);
    for (int n = 1; n <= 9; ++n) {
        form.Program(n, PT::CH3).SetCell(1, 0, "not a number");
        form.Program(n, PT::Fuel).SetCell(1, 0, "");
    }
    std::vector<uint8_t> buffer(2305, 0xAA);
    uint16_t cursor = 0;
    EncodeImage2(form, buffer, cursor);
    EXPECT_EQ(cursor, 2304);
    const auto wordAt = [&](size_t offset) {
        return static_cast<int16_t>((buffer[offset] << 8) | buffer[offset + 1]);
    };
    EXPECT_EQ(std::to_string(wordAt(256)), ValueFor(2, 0, 1, 0));
    EXPECT_EQ(std::to_string(wordAt(2302)), ValueFor(9, 1, 16, 3));
    EXPECT_EQ(buffer[2304], 0xAA);
}

TEST(EncodeImage, StartUpTablesGiveAllZeroImages) {
    MemoryForm form;
    RxBufferT rx{};
    uint16_t cursor = 0;
    DecodeImage3(form, rx, cursor);
    std::vector<uint8_t> three(3744, 0xAA), two(2304, 0xAA);
    cursor = 0;
    EncodeImage3(form, three, cursor);
    cursor = 0;
    EncodeImage2(form, two, cursor);
    EXPECT_EQ(three, std::vector<uint8_t>(3744, 0));
    EXPECT_EQ(two, std::vector<uint8_t>(2304, 0));
}

TEST(EncodeProgram3, KeepsLowSixteenBitsAndNormalisesTexts) {
    MemoryForm form;
    FillAll(form);
    MemoryGrid& ch1 = form.Program(1, PT::CH1);
    ch1.SetCell(1, 0, "70000");
    ch1.SetCell(2, 0, "40000");
    ch1.SetCell(3, 0, "+5");
    ch1.SetCell(4, 0, "007");
    ch1.SetCell(5, 0, "-1");
    std::vector<uint8_t> buffer(416);
    uint16_t cursor = 0;
    EncodeProgram3(ch1, form.Program(1, PT::CH2), form.Program(1, PT::CH3),
                   form.Program(1, PT::Fuel), buffer, cursor);
    EXPECT_EQ(cursor, 416);
    const std::vector<uint8_t> head(buffer.begin(), buffer.begin() + 10);
    EXPECT_EQ(head,
              (std::vector<uint8_t>{0x11, 0x70, 0x9C, 0x40, 0x00, 0x05, 0x00, 0x07, 0xFF, 0xFF}));
    RxBufferT rx{};
    std::copy(buffer.begin(), buffer.end(), rx.begin() + 1);
    MemoryForm back;
    cursor = 0;
    DecodeProgram3(rx, back.Program(1, PT::CH1), back.Program(1, PT::CH2), back.Program(1, PT::CH3),
                   back.Program(1, PT::Fuel), cursor);
    EXPECT_EQ(back.Program(1, PT::CH1).Cell(1, 0), "4464");
    EXPECT_EQ(back.Program(1, PT::CH1).Cell(2, 0), "-25536");
    EXPECT_EQ(back.Program(1, PT::CH1).Cell(3, 0), "5");
    EXPECT_EQ(back.Program(1, PT::CH1).Cell(4, 0), "7");
}

TEST(EncodeConfigRow, WritesWordsAtTheCursorAndRoundTrips) {
    MemoryGrid config(16, 1);
    for (int k = 0; k < 16; ++k) config.SetCell(k, 0, std::to_string(k * 4000));
    config.SetCell(0, 0, "65535");
    config.SetCell(1, 0, "40000");
    std::vector<uint8_t> buffer(3776, 0);
    uint16_t cursor = 3744;
    EncodeConfigRow(config, buffer, cursor);
    EXPECT_EQ(buffer[3744], 0xFF);
    EXPECT_EQ(buffer[3745], 0xFF);
    EXPECT_EQ(buffer[3746], 0x9C);
    EXPECT_EQ(buffer[3747], 0x40);
    RxBufferT rx{};
    std::copy(buffer.begin(), buffer.end(), rx.begin() + 1);
    MemoryGrid back(16, 1);
    cursor = 3744;
    DecodeConfigRow(rx, back, cursor);
    EXPECT_EQ(back.Cell(0, 0), "65535");
    EXPECT_EQ(back.Cell(1, 0), "40000");
    EXPECT_EQ(back.Cell(15, 0), "60000");
}

struct BadCell {
    char layout;
    int program;
    PT table;
    int col, row;
    const char* text;
};

void PrintTo(const BadCell& c, std::ostream* os) {
    *os << c.layout << "-channel P" << c.program << " '" << c.text << "'";
}

class EncodeStopsAtBadCell : public testing::TestWithParam<BadCell> {};

TEST_P(EncodeStopsAtBadCell, WithTheCellTextInTheMessage) {
    const BadCell& c = GetParam();
    MemoryForm form;
    FillAll(form);
    form.Program(c.program, c.table).SetCell(c.col, c.row, c.text);
    std::vector<uint8_t> buffer(3776, 0);
    uint16_t cursor = 0;
    try {
        if (c.layout == '3') {
            EncodeImage3(form, buffer, cursor);
        } else {
            EncodeImage2(form, buffer, cursor);
        }
        FAIL() << "no error for '" << c.text << "'";
    } catch (const ConversionError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "'" + std::string(c.text) + "' is not a valid integer value");
    }
    // The programs before the failing one were written; the cursor shows how far it got.
    const int blockSize = c.layout == '3' ? 416 : 256;
    EXPECT_GE(cursor, (c.program - 1) * blockSize);
    EXPECT_LT(cursor, c.program * blockSize);
}

INSTANTIATE_TEST_SUITE_P(Cells, EncodeStopsAtBadCell,
                         testing::Values(BadCell{'3', 9, PT::Fuel, 16, 0, ""},
                                         BadCell{'3', 1, PT::CH1, 1, 0, "abc"},
                                         BadCell{'3', 4, PT::CH3, 8, 2, "1 2"},
                                         BadCell{'2', 9, PT::CH2, 16, 3, "x"},
                                         BadCell{'2', 1, PT::CH1, 3, 1, ""}));

TEST(ImageCursor, RefusesABlockThatDoesNotFit) {
    MemoryForm form;
    RxBufferT rx{};
    uint16_t cursor = 3800;
    EXPECT_THROW(DecodeProgram3(rx, form.Program(1, PT::CH1), form.Program(1, PT::CH2),
                                form.Program(1, PT::CH3), form.Program(1, PT::Fuel), cursor),
                 std::out_of_range);
    std::vector<uint8_t> small(100);
    cursor = 0;
    EXPECT_THROW(EncodeProgram2(form.Program(1, PT::CH1), form.Program(1, PT::CH2), small, cursor),
                 std::out_of_range);
}

}  // namespace
