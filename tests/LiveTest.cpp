#include "Conversions.h"
#include "DynoLog.h"
#include "LinkSupport.h"
#include "LiveRecording.h"
#include "SentData.h"
#include "TestSupport.h"
#include "TuningFile.h"

namespace {

using PT = ProgramTable;

std::vector<uint8_t> LiveMessage(uint16_t rpm, uint16_t p1, uint16_t t1, uint16_t p2, uint16_t t2,
                                 uint16_t p3) {
    const auto m = EncodeLiveMessage({rpm, p1, t1, p2, t2, p3});
    return {m.begin(), m.end()};
}

// A fixture with the stream switched on and RPM points 1000, 1500, ... in P1's CH1 table
// and in the dyno log's RPM row.
struct LiveFixture : LinkFixture {
    explicit LiveFixture(const char* serial = "30012345") {
        vars.BoxSerial = serial;
        for (int c = 1; c <= 16; ++c) {
            const std::string point = std::to_string(500 + 500 * c);
            form.Program(1, PT::CH1).SetCell(c, 0, point);
            form.GridByName(Grid::StrGridDynoLog).SetCell(c, 0, point);
        }
        SwitchDynoLog(link);
        port.Take();
    }
    std::string Log(int col, int row) {
        return form.GridByName(Grid::StrGridDynoLog).Cell(col, row);
    }
};

TEST(LiveData, MessageShowsInTheLabelsForEitherEdition) {
    const std::vector<uint8_t> message = {0x15, 0x0B, 0xB8, 0x01, 0x2C, 0x00, 0x5A,
                                          0x00, 0xC8, 0x00, 0x55, 0x00, 0x64};
    for (const char* serial : {"30012345", "20012345"}) {
        LiveFixture f(serial);
        f.form.ControlByName(Ctl::LabelPress3).SetCaption("CH3:");
        f.Receive(message);
        EXPECT_EQ(f.form.ControlByName(Ctl::LabelRPM).Caption(), "RPM: 3000");
        EXPECT_EQ(f.form.ControlByName(Ctl::LabelPress1).Caption(),
                  "CH1: 300 - 90\xC2\xB0"
                  "C");
        EXPECT_EQ(f.form.ControlByName(Ctl::LabelPress2).Caption(),
                  "CH2: 200 - 85\xC2\xB0"
                  "C");
        EXPECT_EQ(f.form.ControlByName(Ctl::LabelPress3).Caption(),
                  serial[0] == '3' ? "CH3: 100" : "CH3:");
        EXPECT_EQ(f.vars.LivePress3, 100);
        EXPECT_EQ(f.vars.RxPos, 0);
    }
}

TEST(LiveData, EveryMessageOfEveryChunkIsHandledInOrder) {
    LiveFixture f;
    std::vector<uint8_t> stream;
    for (int k = 0; k < 50; ++k) {
        const auto m =
            LiveMessage(static_cast<uint16_t>(1000 + 500 * (k % 16)), static_cast<uint16_t>(k * 3),
                        80, static_cast<uint16_t>(k), 70, static_cast<uint16_t>(65535 - k));
        stream.insert(stream.end(), m.begin(), m.end());
    }
    // Chunks of 6, 7, 20 and 1 bytes: messages split and several in one notice.
    const size_t sizes[] = {6, 7, 20, 1, 40};
    size_t at = 0;
    for (int k = 0; at < stream.size(); ++k) {
        const size_t n = std::min(sizes[k % 5], stream.size() - at);
        f.Receive(
            {stream.begin() + static_cast<long>(at), stream.begin() + static_cast<long>(at + n)});
        at += n;
    }
    EXPECT_EQ(f.vars.LivePress1, 49 * 3) << "the labels show the last";
    // The dyno log saw every reading: the maxima per column.
    for (int c = 1; c <= 16; ++c) {
        int best1 = 0, best3 = 0;
        for (int k = 0; k < 50; ++k) {
            if (k % 16 == c - 1) {
                best1 = std::max(best1, k * 3);
                best3 = std::max(best3, 65535 - k);
            }
        }
        EXPECT_EQ(f.Log(c, 1), std::to_string(best1)) << "column " << c;
        EXPECT_EQ(f.Log(c, 3), std::to_string(best3)) << "column " << c;
    }
}

TEST(LiveData, MessagesOnTheirWayWhenTheStreamStopsAreTakenUntilTheNextCommand) {
    LiveFixture f;
    const auto first = LiveMessage(1000, 11, 80, 12, 70, 13);
    const auto second = LiveMessage(1500, 21, 80, 22, 70, 23);
    f.Receive({first.begin(), first.begin() + 5});
    SwitchDynoLog(f.link);
    ASSERT_EQ(f.vars.DynoLogging, 0);
    // The rest of the message in progress, and one the box sent before it read the switch.
    std::vector<uint8_t> late(first.begin() + 5, first.end());
    late.insert(late.end(), second.begin(), second.end());
    f.Receive(late);
    EXPECT_EQ(f.vars.LiveMessages, 2u);
    EXPECT_EQ(f.Log(1, 1), "11");
    EXPECT_EQ(f.Log(2, 3), "23");
    EXPECT_EQ(f.vars.RxPos, 0);
    // Once another command is written, a late message is no answer and no sample.
    Download(f.link);
    f.Receive(LiveMessage(1000, 99, 80, 99, 70, 99));
    EXPECT_EQ(f.vars.LiveMessages, 2u);
    EXPECT_EQ(f.Log(1, 1), "11");
}

TEST(LiveData, StreamFindsItsStepAgainAfterGarbageOrALostByte) {
    LiveFixture f;
    std::vector<uint8_t> stream = {0x00, 0x33};  // garbage first
    auto good = LiveMessage(1000, 10, 0, 0, 0, 0);
    stream.insert(stream.end(), good.begin(), good.end());
    auto broken = LiveMessage(1500, 9999, 0, 0, 0, 0);
    broken.erase(broken.begin() + 4);  // a byte lost on the line
    stream.insert(stream.end(), broken.begin(), broken.end());
    for (int k = 0; k < 5; ++k) {
        auto m = LiveMessage(2000, static_cast<uint16_t>(20 + k), 0, 0, 0, 0);
        stream.insert(stream.end(), m.begin(), m.end());
    }
    for (uint8_t byte : stream) f.Receive({byte});
    EXPECT_EQ(f.Log(1, 1), "10");
    EXPECT_EQ(f.Log(3, 1), "24") << "the stream is back in step";
    EXPECT_LT(f.vars.RxPos, kRxBufferSize);
}

TEST(LiveData, ConversionErrorIsShownOnceAndTheStreamGoesOn) {
    LiveFixture f;
    f.form.Program(1, PT::CH1).SetCell(16, 0, "x");
    const auto m = LiveMessage(3000, 5, 0, 0, 0, 0);
    std::vector<uint8_t> two = m;
    two.insert(two.end(), m.begin(), m.end());
    EXPECT_THROW(f.Receive(two), ConversionError);
    EXPECT_EQ(f.vars.RxPos, 0) << "both messages consumed";
    EXPECT_NO_THROW(f.Receive(m)) << "not shown again while the cell stays wrong";
    EXPECT_NO_THROW(f.Receive(m));
    EXPECT_EQ(f.Log(5, 1), "5") << "the dyno log goes on";

    f.form.Program(1, PT::CH1).SetCell(16, 0, "8500");
    EXPECT_NO_THROW(f.Receive(m));
    f.form.Program(1, PT::CH1).SetCell(16, 0, "y");
    EXPECT_THROW(f.Receive(m), ConversionError) << "fails anew after the fix";
    SwitchDynoLog(f.link);
    SwitchDynoLog(f.link);
    EXPECT_THROW(f.Receive(m), ConversionError) << "shown again after the stream restarted";
}

TEST(LiveData, TrackedColumnFollowsP1RpmRowOnTheShownProgram) {
    struct Case {
        uint16_t rpm;
        int page;
        int col;  // -1: no cell moves
    };
    for (const Case c : {Case{1499, 5, 1}, Case{1500, 5, 2}, Case{900, 5, -1}, Case{9000, 3, 16},
                         Case{2000, 0, 3}}) {
        LiveFixture f;
        f.form.SetPageIndex(c.page);
        for (int n = 1; n <= 9; ++n) {
            for (int t = 0; t < 4; ++t) {
                f.form.Program(n, static_cast<PT>(t)).SetCol(7);
                f.form.Program(n, static_cast<PT>(t)).SetRow(0);
            }
        }
        f.form.Program(5, PT::CH2).SetRow(3);
        f.form.GridByName(Grid::StrGridDynoLog).SetCol(9);
        f.Receive(LiveMessage(c.rpm, 0, 0, 0, 0, 0));
        const int expected = c.col < 0 ? 9 : c.col;
        EXPECT_EQ(f.form.GridByName(Grid::StrGridDynoLog).Col(), expected) << c.rpm;
        for (int n = 1; n <= 9; ++n) {
            for (int t = 0; t < 4; ++t) {
                const bool moved = c.col > 0 && n == c.page;
                EXPECT_EQ(f.form.Program(n, static_cast<PT>(t)).Col(), moved ? c.col : 7);
            }
        }
        if (c.page == 5 && c.col > 0) {
            EXPECT_EQ(f.form.Program(5, PT::CH2).Row(), 0);
        }
    }
}

struct DynoCase {
    const char* name;
    uint16_t rpm;
    uint8_t program;
    std::vector<std::pair<int, int>> points;  // column, RPM point (others keep 500 + 500c)
    int col;                                  // column that takes the sample, 0: none
};

void PrintTo(const DynoCase& c, std::ostream* os) {
    *os << c.name;
}

class DynoLogSample : public testing::TestWithParam<DynoCase> {};

TEST_P(DynoLogSample, CountsForTheFirstColumnWithinFifty) {
    const DynoCase& c = GetParam();
    LiveFixture f;
    for (int col = 1; col <= 16; ++col) {
        f.form.GridByName(Grid::StrGridDynoLog).SetCell(col, 0, std::to_string(20000 + 200 * col));
    }
    for (const auto& [col, point] : c.points) {
        f.form.GridByName(Grid::StrGridDynoLog).SetCell(col, 0, std::to_string(point));
    }
    f.vars.ActiveProgram = c.program;
    RecordDynoLogSample(f.form, f.vars, c.rpm, 7, 65535, 1);
    DynoRecord& record = c.program == 0 ? f.vars.DynoLogP0 : f.vars.DynoLogP1toP9;
    DynoRecord& other = c.program == 0 ? f.vars.DynoLogP1toP9 : f.vars.DynoLogP0;
    for (int col = 1; col <= 16; ++col) {
        const bool hit = col == c.col;
        EXPECT_EQ(record[static_cast<size_t>(col * 4 + 1)], hit ? "7" : "0") << col;
        EXPECT_EQ(record[static_cast<size_t>(col * 4 + 2)], hit ? "65535" : "0") << col;
        EXPECT_EQ(other[static_cast<size_t>(col * 4 + 1)], "0");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, DynoLogSample,
    testing::Values(DynoCase{"Just above", 3049, 0, {{6, 3000}}, 6},
                    DynoCase{"Just below", 2951, 0, {{6, 3000}}, 6},
                    DynoCase{"FiftyAboveIsOut", 3050, 0, {{6, 3000}, {7, 4000}}, 0},
                    DynoCase{"FiftyBelowIsOut", 2950, 0, {{5, 2000}, {6, 3000}}, 0},
                    DynoCase{"FirstMatchingColumn", 3030, 0, {{5, 3000}, {6, 3060}}, 5},
                    DynoCase{"ProgramAboveZero", 1000, 4, {{1, 1000}}, 1}));

TEST(DynoLog, RecordsViewsAndReset) {
    LiveFixture f;  // P=0 view checked
    f.vars.ActiveProgram = 0;
    RecordDynoLogSample(f.form, f.vars, 1000, 30, 0, 0);
    RecordDynoLogSample(f.form, f.vars, 1000, 30, 0, 0);  // equal: unchanged
    RecordDynoLogSample(f.form, f.vars, 1000, 20, 0, 0);  // lower: unchanged
    EXPECT_EQ(f.Log(1, 1), "30");
    EXPECT_EQ(f.Log(1, 2), "0") << "a reading of 0 replaces nothing";

    // Program 3 runs while the P=0 view is shown: the P>0 record fills, the view stays.
    f.vars.ActiveProgram = 3;
    RecordDynoLogSample(f.form, f.vars, 1500, 44, 1, 0);
    EXPECT_EQ(f.Log(2, 1), "0");
    EXPECT_EQ(f.vars.DynoLogP1toP9[2 * 4 + 1], "44");
    f.form.ControlByName(Ctl::RadioButtP0).SetChecked(false);
    f.form.ControlByName(Ctl::RadioButtP1toP9).SetChecked(true);
    ShowCheckedDynoLog(f.form, f.vars);
    EXPECT_EQ(f.Log(2, 1), "44");
    EXPECT_EQ(f.Log(1, 1), "0");

    // A user edit in the logged rows is overwritten where it differs.
    f.form.GridByName(Grid::StrGridDynoLog).SetCell(2, 2, "typed");
    RecordDynoLogSample(f.form, f.vars, 9999, 1, 1, 1);
    EXPECT_EQ(f.Log(2, 2), "1");

    // Reset clears P>0 and shows the checked view; P=0 keeps its readings.
    f.form.ControlByName(Ctl::RadioButtP1toP9).SetChecked(false);
    f.form.ControlByName(Ctl::RadioButtP0).SetChecked(true);
    ResetDynoLogP1toP9(f.form, f.vars);
    EXPECT_EQ(f.vars.DynoLogP1toP9[2 * 4 + 1], "0");
    EXPECT_EQ(f.Log(1, 1), "30");

    // A text that is no number in the RPM row stops the sample; the records keep theirs.
    f.form.GridByName(Grid::StrGridDynoLog).SetCell(1, 0, "abc");
    f.vars.ActiveProgram = 0;
    EXPECT_THROW(RecordDynoLogSample(f.form, f.vars, 1000, 99, 0, 0), ConversionError);
    EXPECT_EQ(f.vars.DynoLogP0[1 * 4 + 1], "30");
}

// A box may report a program above 9. Live, its messages go to the record of programs 1 to
// 9; a recording of it reads back and its replay files them the same way.
TEST(DynoLog, ReplayFilesAProgramAboveNineAsTheLiveStreamDoes) {
    LiveFixture live("20012345");
    MarkActiveProgram(live.form, live.vars, 12);
    live.Receive(LiveMessage(1000, 77, 90, 5, 80, 6));
    MarkActiveProgram(live.form, live.vars, 0);
    live.Receive(LiveMessage(1500, 33, 90, 4, 80, 2));
    EXPECT_EQ(live.vars.DynoLogP1toP9[1 * 4 + 1], "77");
    EXPECT_EQ(live.vars.DynoLogP0[2 * 4 + 1], "33");

    const std::vector<LiveRecord> records = ParseLiveCsv(std::string(kLiveCsvHeader) +
                                                         "\n0.010000,1000,77,90,5,80,6,12\n"
                                                         "0.020000,1500,33,90,4,80,2,0\n");
    LiveFixture replayed("20012345");
    replayed.vars.ActiveProgram = 3;
    ReplayLiveRecords(replayed.form, replayed.vars, records);
    EXPECT_EQ(replayed.vars.DynoLogP1toP9, live.vars.DynoLogP1toP9);
    EXPECT_EQ(replayed.vars.DynoLogP0, live.vars.DynoLogP0);
    EXPECT_EQ(replayed.vars.ActiveProgram, 3) << "the running program is the box's again";
}

TEST(DynoLog, RpmRowComesFromADownloadNotFromAFile) {
    TempDir dir;
    LinkFixture f;
    BoxAnswers box('3');
    box.image[0] = 0xFF;
    box.image[1] = 0xFF;
    Download(f.link);
    f.Converse(box);
    EXPECT_EQ(f.form.GridByName(Grid::StrGridDynoLog).Cell(1, 0), "-1");
    EXPECT_EQ(f.form.GridByName(Grid::StrGridDynoLog).Cell(0, 2), "PRESS_2");

    std::vector<uint8_t> file(3776, 0x01);
    WriteBytes(dir / "f.bin", file);
    LoadTuningFile(f.form, f.vars, dir / "f.bin");
    EXPECT_EQ(f.form.Program(1, PT::CH1).Cell(1, 0), "257");
    EXPECT_EQ(f.form.GridByName(Grid::StrGridDynoLog).Cell(1, 0), "-1");
}

struct NameCase {
    std::string (*name)(uint16_t);
    uint16_t value;
    const char* text;
};

class SentNames : public testing::TestWithParam<NameCase> {};

TEST_P(SentNames, TableEntry) {
    EXPECT_EQ(GetParam().name(GetParam().value), GetParam().text);
}

std::vector<NameCase> AllNameCases() {
    std::vector<NameCase> cases;
    const std::pair<std::vector<uint16_t>, const char*> makers[] = {
        {{0x01, 0x10, 0x42}, "Bosch"},
        {{0x02}, "Hitachi"},
        {{0x03, 0x43, 0x80}, "Continental"},
        {{0x04, 0x49}, "Infineon"},
        {{0x05}, "Sensata"},
        {{0x06}, "Melexis"},
        {{0x07}, "Micronas"},
        {{0x08}, "Austria Micro Systems"},
        {{0x09}, "Denso"},
        {{0x12}, "Stoneridge Inc"},
        {{0x20}, "SiemensVDO"},
        {{0x32}, "i2s Intelligente Sensorsysteme"},
        {{0x40, 0x41}, "Autoliv"},
        {{0x45}, "Elmos"},
        {{0x46}, "Freescale"},
        {{0x48}, "Hella"},
        {{0x4E}, "NXP Semiconductors"},
        {{0x4F}, "OnSemi"},
        {{0x53}, "ST Microelectronics"},
        {{0x54}, "TRW"},
        {{0x56}, "Valeo"},
        {{0x5A}, "ZMDI"},
        {{0x69}, "IHR"},
        {{0x73}, "Seskion"},
        {{0x00, 0x0A, 0x0142, 0xFFFF}, "Not specified"}};
    for (const auto& [values, text] : makers) {
        for (uint16_t v : values) cases.push_back({ManufacturerName, v, text});
    }
    const std::tuple<uint16_t, uint16_t, const char*> types[] = {
        {0x00, 0x00, "N.S. Sensor Type"},
        {0x01, 0x0E, "Pressure 12/12bit"},
        {0x0F, 0x0F, "N.S. Pressure Sensor"},
        {0x10, 0x10, "N.S. MAF Sensors"},
        {0x11, 0x14, "MAF 16/8bit"},
        {0x15, 0x1A, "MAF 14/10bit"},
        {0x1B, 0x1C, "MAF 16/8bit"},
        {0x1D, 0x1F, "MAF 12/12bit"},
        {0x40, 0x40, "N.S. Temperature Sensors"},
        {0x41, 0x4C, "Temperature 12/12bit"},
        {0x50, 0x50, "N.S. Position Sensors"},
        {0x51, 0x85, "Position 12/12bit"},
        {0xB0, 0xB0, "N.S. Ratio Sensors"},
        {0xB1, 0xB7, "Ratio 12/12bit"},
        {0xC0, 0xCF, "Acceleration"}};
    for (const auto& [low, high, text] : types) {
        cases.push_back({SensorTypeName, low, text});
        cases.push_back({SensorTypeName, high, text});
    }
    for (const auto& [v, text] : std::vector<std::pair<uint16_t, const char*>>{{0x20, "$20"},
                                                                               {0x0123, "$23"},
                                                                               {0x3F, "$3F"},
                                                                               {0x4D, "$4D"},
                                                                               {0x86, "$86"},
                                                                               {0xB8, "$B8"},
                                                                               {0xD0, "$D0"},
                                                                               {0xFFFF, "$FF"}}) {
        cases.push_back({SensorTypeName, v, text});
    }
    const std::pair<uint16_t, const char*> revisions[] = {
        {1, "FEB2007 SENT Rev.1"}, {2, "FEB2008 SENT Rev.2"}, {3, "JAN2010 SENT Rev.3"},
        {4, "APR2016 SENT Rev.4"}, {0, "Not specified"},      {5, "Not specified"}};
    for (const auto& [v, text] : revisions) cases.push_back({ProtocolRevisionName, v, text});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Tables, SentNames, testing::ValuesIn(AllNameCases()));

// Two equal OEM characters packed into one record value.
uint16_t PackChars(int ch) {
    const int code = ch - 0x20;
    return static_cast<uint16_t>(code | (code << 6));
}

struct SentFixture {
    MemoryForm form;
    RxBufferT rx{};
    SentFixture() { rx[0] = 0x23; }
    void Put(int channel, int index, uint8_t id, uint16_t value) {
        const size_t at = 1 + static_cast<size_t>(channel * 192 + index * 3);
        rx[at] = id;
        WriteWord(&rx[at + 1], value);
    }
    std::string Cell(int col, int row) {
        return form.GridByName(Grid::StrGridSDdata).Cell(col, row);
    }
    std::string Listing() { return form.ControlByName(Ctl::StaticText1).Caption(); }
};

TEST(SentData, RowsOemTextStatusAndListing) {
    SentFixture f;
    f.Put(0, 0, 0x05, 0x0042);
    f.Put(0, 1, 0x90, 0x08A1);
    f.Put(0, 2, 0x91, 0x0000);
    f.Put(0, 3, 0x03, 0x001B);
    f.Put(0, 4, 0x06, 0x0004);
    f.Put(0, 5, 0x01, 0x001F);
    f.Put(0, 6, 0x05, 0x0006);  // a later record wins
    f.Put(0, 7, 0x77, 0x1234);  // unknown: listed only
    f.Put(1, 0, 0x01, 0x0000);
    f.Put(1, 63, 0x01, 0x01FF);
    DecodeSentData(f.form, f.rx);
    EXPECT_EQ(f.Cell(0, 0), "Melexis");
    EXPECT_EQ(f.Cell(0, 1), "AB--");
    EXPECT_EQ(f.Cell(0, 2), "MAF 16/8bit");
    EXPECT_EQ(f.Cell(0, 3), "APR2016 SENT Rev.4");
    EXPECT_EQ(f.Cell(0, 4), "Error code: $1F");
    EXPECT_EQ(f.Cell(1, 4), "Error code: $1FF");
    EXPECT_EQ(f.Cell(1, 1), "");
    EXPECT_EQ(f.Listing(),
              "$05:$042, $90:$8A1, $91:$000, $03:$01B, $06:$004, $01:$01F, $05:$006, $77:$1234, "
              "\n$01:$000, $01:$1FF, ");
    EXPECT_EQ(OemCharacters(0xF8A1), "AB") << "bits 12 to 15 are ignored";
}

TEST(SentData, EmptyResponseKeepsRowsAndEmptiesOem) {
    SentFixture f;
    for (int col = 0; col < 2; ++col) {
        for (int row = 0; row < 5; ++row)
            f.form.GridByName(Grid::StrGridSDdata).SetCell(col, row, "old");
    }
    DecodeSentData(f.form, f.rx);
    for (int col = 0; col < 2; ++col) {
        for (int row : {0, 2, 3, 4}) EXPECT_EQ(f.Cell(col, row), "old");
        EXPECT_EQ(f.Cell(col, 1), "");
    }
    EXPECT_EQ(f.Listing(), "\n");
}

TEST(SentData, OemTextHoldsNineCodes) {
    SentFixture f;
    for (int k = 0; k < 12; ++k)
        f.Put(0, k, static_cast<uint8_t>(0x90 + k % 8), PackChars('A' + k));
    DecodeSentData(f.form, f.rx);
    EXPECT_EQ(f.Cell(0, 1), "AABBCCDDEEFFGGHHII");
    const std::string listing = f.Listing();
    EXPECT_EQ(std::count(listing.begin(), listing.end(), ','), 12) << "all listed";
}

TEST(SentData, ByteAfterTheResponseLeavesTheDisplay) {
    LinkFixture f;
    BoxAnswers box('3');
    Download(f.link);
    f.Converse(box);
    const std::string listing = f.form.ControlByName(Ctl::StaticText1).Caption();
    f.Receive({0x05, 0x90});
    EXPECT_EQ(f.form.GridByName(Grid::StrGridSDdata).Cell(0, 0), "Bosch");
    EXPECT_EQ(f.form.ControlByName(Ctl::StaticText1).Caption(), listing);
}

}  // namespace
