#include <algorithm>
#include <functional>
#include <random>

#include "BoxImage.h"
#include "Conversions.h"
#include "LinkSupport.h"
#include "SendPreview.h"
#include "TestSupport.h"
#include "TuningFile.h"
#include "Verify.h"

namespace {

std::vector<uint8_t> Chain(std::span<const uint8_t> codes) {
    return {codes.begin(), codes.end()};
}

using PT = ProgramTable;

// What a finished download leaves in the window, for comparing runs.
struct Outcome {
    std::vector<uint8_t> commands;
    std::vector<std::string> tables;
    std::vector<std::string> config;
    std::vector<std::string> labels;
    bool operator==(const Outcome&) const = default;
};

Outcome Capture(LinkFixture& f, std::vector<uint8_t> commands) {
    Outcome o{std::move(commands), AllProgramTexts(f.form), {}, {}};
    for (int k = 0; k < 16; ++k)
        o.config.push_back(f.form.GridByName(Grid::StrGridConfig).Cell(k, 0));
    for (Ctl c : {Ctl::LabelSerial, Ctl::EditNewSerial, Ctl::NumBoxStartTime, Ctl::StaticText1}) {
        o.labels.push_back(f.form.ControlByName(c).Caption());
    }
    o.labels.push_back(std::to_string(f.form.ControlByName(Ctl::ComboBoxPedalRes).ItemIndex()));
    o.labels.push_back(f.vars.BoxSerial);
    o.labels.push_back(f.form.GridByName(Grid::StrGridDynoLog).Cell(16, 0));
    for (int r = 0; r < 5; ++r)
        o.labels.push_back(f.form.GridByName(Grid::StrGridSDdata).Cell(0, r));
    return o;
}

Outcome RunDownload(char edition, const std::vector<size_t>& split = {}) {
    LinkFixture f;
    BoxAnswers box(edition);
    Download(f.link);
    return Capture(f, f.Converse(box, split));
}

int16_t ImageValue(const BoxAnswers& box, size_t offset) {
    return static_cast<int16_t>((box.image[offset] << 8) | box.image[offset + 1]);
}

TEST(DownloadChain, ThreeChannelBoxFillsTheWindow) {
    LinkFixture f;
    BoxAnswers box('3');
    Download(f.link);
    EXPECT_EQ(f.port.written, std::vector<uint8_t>{0x1E});
    const auto commands = f.Converse(box);
    EXPECT_EQ(commands, Chain(DownloadChain('3')));

    EXPECT_EQ(f.vars.BoxSerial, "30012345");
    EXPECT_EQ(f.form.ControlByName(Ctl::LabelSerial).Caption(), "BOX serial: 30012345 (Stellix)");
    EXPECT_EQ(f.form.ControlByName(Ctl::EditNewSerial).Caption(), "30012345");
    EXPECT_TRUE(f.form.Program(5, PT::Fuel).Enabled()) << "3-channel layout applied";
    EXPECT_EQ(f.form.Program(1, PT::CH1).Cell(1, 0), std::to_string(ImageValue(box, 0)));
    EXPECT_EQ(f.form.Program(9, PT::Fuel).Cell(16, 0), std::to_string(ImageValue(box, 3742)));
    EXPECT_EQ(f.form.Program(1, PT::CH3).Cell(1, 0), std::to_string(ImageValue(box, 256)));
    EXPECT_EQ(f.form.GridByName(Grid::StrGridConfig).Cell(0, 0), std::to_string(0xF0F1));
    EXPECT_EQ(f.form.GridByName(Grid::StrGridConfig).Cell(15, 0), std::to_string(0x0E0F));
    EXPECT_EQ(f.form.ControlByName(Ctl::NumBoxStartTime).Caption(), "7");
    EXPECT_EQ(f.form.ControlByName(Ctl::ComboBoxPedalRes).ItemIndex(), 2);
    EXPECT_EQ(f.vars.ActiveProgram, 4);
    EXPECT_EQ(f.form.ControlByName(Ctl::ButtonP4).Color(), clBlue);
    EXPECT_EQ(f.form.GridByName(Grid::StrGridDynoLog).Cell(1, 0),
              f.form.Program(1, PT::CH1).Cell(1, 0))
        << "the log's RPM row follows the image";
    EXPECT_EQ(f.form.GridByName(Grid::StrGridSDdata).Cell(0, 0), "Bosch");
    EXPECT_EQ(f.form.GridByName(Grid::StrGridSDdata).Cell(0, 1), "AB");
    EXPECT_EQ(f.form.GridByName(Grid::StrGridSDdata).Cell(1, 0), "Melexis");
}

TEST(Chains, WireBytesCountEveryCommandItsDataAndItsAnswer) {
    // serial, image, program, configuration, start time, pedal, sensors' data
    EXPECT_EQ(ChainWireBytes(DownloadChain('3'), '3'), 7u + 9 + 3745 + 3 + 33 + 2 + 2 + 385);
    EXPECT_EQ(ChainWireBytes(DownloadChain('2'), '2'), 5u + 9 + 2305 + 3 + 2 + 2);
    // each write with its ACK, then the read-back
    EXPECT_EQ(ChainWireBytes(SendChain('3'), '3'), (9u + 1) + (3745 + 1) + (33 + 1) + (2 + 1) +
                                                       (2 + 1) +
                                                       ChainWireBytes(DownloadChain('3'), '3'));
    EXPECT_EQ(ChainWireBytes(SendChain('2'), '2'),
              (9u + 1) + (2305 + 1) + (2 + 1) + (2 + 1) + ChainWireBytes(DownloadChain('2'), '2'));
}

TEST(DownloadChain, TwoChannelBoxStopsAfterTheStartTime) {
    LinkFixture f;
    BoxAnswers box('2');
    for (int n = 1; n <= 9; ++n) f.form.Program(n, PT::CH3).SetCell(3, 3, "old");
    f.form.GridByName(Grid::StrGridConfig).SetCell(5, 0, "keep");
    Download(f.link);
    EXPECT_EQ(f.Converse(box), Chain(DownloadChain('2')));
    EXPECT_EQ(f.form.ControlByName(Ctl::LabelSerial).Caption(), "BOX serial: 20054321 (Corvane)");
    EXPECT_EQ(f.form.Program(2, PT::CH1).Cell(1, 0), std::to_string(ImageValue(box, 256)));
    EXPECT_EQ(f.form.Program(9, PT::CH2).Cell(16, 3), std::to_string(ImageValue(box, 2302)));
    EXPECT_EQ(f.form.Program(4, PT::CH3).Cell(3, 3), "0");
    EXPECT_EQ(f.form.GridByName(Grid::StrGridConfig).Cell(0, 0), "200");
    EXPECT_EQ(f.form.GridByName(Grid::StrGridConfig).Cell(5, 0), "keep");
    EXPECT_EQ(f.form.ControlByName(Ctl::ComboBoxPedalRes).ItemIndex(), 1) << "not read";
}

TEST(DownloadChain, UnknownEditionEndsAfterTheSerialReport) {
    LinkFixture f;
    Download(f.link);
    EXPECT_EQ(f.Converse(BoxAnswers('X')), (std::vector<uint8_t>{0x1E}));
    EXPECT_EQ(f.form.ControlByName(Ctl::LabelSerial).Caption(), "BOX serial: X0000000");
    EXPECT_EQ(f.form.ControlByName(Ctl::EditNewSerial).Caption(), "X0000000");
}

TEST(Assembler, EverySplitOfEveryResponseGivesTheSameDownload) {
    for (char edition : {'2', '3'}) {
        const Outcome whole = RunDownload(edition);
        // Two chunks: every response split at every offset in turn.
        for (size_t first = 1; first < 3745; ++first) {
            ASSERT_EQ(RunDownload(edition, {first, 4096}), whole) << edition << " split " << first;
        }
        for (size_t size : {1, 2, 3, 13, 32, 64, 1000}) {
            ASSERT_EQ(RunDownload(edition, {size}), whole) << edition << " chunks of " << size;
        }
        std::mt19937 random(edition);
        for (int run = 0; run < 30; ++run) {
            std::vector<size_t> sizes;
            for (int k = 0; k < 20; ++k) sizes.push_back(1 + random() % 700);
            ASSERT_EQ(RunDownload(edition, sizes), whole) << edition << " run " << run;
        }
    }
}

TEST(Assembler, ImageIsDecodedOnlyWhenComplete) {
    LinkFixture f;
    BoxAnswers box('3');
    f.vars.BoxSerial = "30012345";
    f.form.Program(1, PT::CH1).SetCell(1, 0, "before");
    f.port.PutChar(Cmd::ReadImage3);  // as the chain would
    f.vars.Awaiting = Cmd::ReadImage3;
    f.port.Take();
    std::vector<uint8_t> answer = box.AnswerTo({Cmd::ReadImage3});
    for (size_t at = 0; at < 3000; at += 1000) {
        f.Receive({answer.begin() + static_cast<long>(at),
                   answer.begin() + static_cast<long>(at + 1000)});
        EXPECT_EQ(f.form.Program(1, PT::CH1).Cell(1, 0), "before");
        EXPECT_TRUE(f.port.written.empty());
    }
    f.Receive({answer.begin() + 3000, answer.end() - 1});  // 3744 bytes in all
    EXPECT_EQ(f.form.Program(1, PT::CH1).Cell(1, 0), "before");
    EXPECT_TRUE(f.port.written.empty());
    f.Receive({answer.back()});
    EXPECT_NE(f.form.Program(1, PT::CH1).Cell(1, 0), "before");
    EXPECT_EQ(f.port.Take(), std::vector<uint8_t>{Cmd::ReadProgram});
}

TEST(Assembler, GarbageBeforeAResponseIsDropped) {
    for (char edition : {'2', '3'}) {
        const Outcome whole = RunDownload(edition);
        LinkFixture f;
        BoxAnswers box(edition);
        Download(f.link);
        // Bytes that cannot start the awaited answer come first, in the same notice.
        f.Receive({0x00, 0xFF, 0x77, 0x05, 0x23});
        EXPECT_EQ(f.vars.RxPos, 0);
        EXPECT_EQ(Capture(f, f.Converse(box)), whole);
    }
}

TEST(Assembler, SilentBoxStopsTheChainAtThatStep) {
    const std::vector<uint8_t> chain = Chain(DownloadChain('3'));
    for (size_t silentFrom = 0; silentFrom < chain.size(); ++silentFrom) {
        LinkFixture f;
        BoxAnswers box('3');
        Download(f.link);
        std::vector<uint8_t> sent;
        while (!f.port.written.empty()) {
            const auto written = f.port.Take();
            sent.push_back(written[0]);
            if (sent.size() > silentFrom) break;
            f.Receive(box.AnswerTo(written));
        }
        EXPECT_EQ(sent, std::vector<uint8_t>(chain.begin(), chain.begin() + silentFrom + 1));
        EXPECT_TRUE(f.port.written.empty());
        // Until the answer is overdue the box may still be busy with it.
        EXPECT_THROW(Download(f.link), LinkError);
        EXPECT_TRUE(f.port.written.empty());
        // Once it is, the user can start afresh.
        EXPECT_FALSE(ExchangeInProgress(f.vars, f.vars.AnswerDue));
        f.vars.AnswerDue = std::chrono::steady_clock::now();
        Download(f.link);
        EXPECT_EQ(f.Converse(box), chain);
    }
}

TEST(Assembler, BufferNeverOverflowsAndRecovers) {
    LinkFixture f;
    BoxAnswers box('3');
    Download(f.link);
    f.port.Take();
    // A serial report start followed by far more bytes than the buffer holds.
    std::vector<uint8_t> flood(10000, 0x1E);
    f.Receive(flood);
    EXPECT_LT(f.vars.RxPos, kRxBufferSize);
    // The first nine bytes made a serial report; the rest were dropped.
    EXPECT_EQ(f.vars.BoxSerial, std::string(8, '\x1E'));

    LinkFixture g;
    g.vars.BoxSerial = "30012345";
    g.vars.Awaiting = Cmd::ReadSentData;
    std::vector<uint8_t> longRun(9000, 0x23);
    g.Receive(longRun);
    EXPECT_LE(g.vars.RxPos, kRxBufferSize);
    Download(g.link);
    EXPECT_EQ(g.Converse(box).size(), 7u);
}

TEST(SendChain, ThreeChannelWritesBackExactlyWhatTheTablesHold) {
    LinkFixture f;
    BoxAnswers box('3');
    Download(f.link);
    f.Converse(box);
    FillDistinct(f.form);
    f.form.GridByName(Grid::StrGridConfig).SetCell(15, 0, "65535");
    f.form.ControlByName(Ctl::NumBoxStartTime).SetCaption("5");
    f.form.ControlByName(Ctl::ComboBoxPedalRes).SetItemIndex(0);
    const auto tables = AllProgramTexts(f.form);
    std::vector<uint8_t> image(3744);
    uint16_t cursor = 0;
    EncodeImage3(f.form, image, cursor);
    std::vector<uint8_t> config(32);
    cursor = 0;
    EncodeConfigRow(f.form.GridByName(Grid::StrGridConfig), config, cursor);

    f.port.events.clear();
    SendSerialNumber(f.link);
    EXPECT_FALSE(f.form.ControlByName(Ctl::ButtonSend).Enabled());
    std::vector<uint8_t> expected = {0x28, '3', '0', '0', '1', '2', '3', '4', '5'};
    EXPECT_EQ(f.port.Take(), expected);

    f.Receive({ACK});
    std::vector<uint8_t> upload = f.port.Take();
    expected = {0x65};
    expected.insert(expected.end(), image.begin(), image.end());
    EXPECT_EQ(upload, expected);
    // Code byte, pause, then 117 blocks of 32 bytes each followed by a pause.
    ASSERT_EQ(f.port.events.size(), 2 + 2 + 117 * 2u);
    EXPECT_EQ(f.port.events[2], "write 1");
    EXPECT_EQ(f.port.events[3], "pause 1");
    EXPECT_EQ(f.port.events[4], "write 32");
    EXPECT_EQ(f.port.events.back(), "pause 1");

    f.Receive({ACK});
    EXPECT_TRUE(f.form.ControlByName(Ctl::ButtonSend).Enabled());
    expected = {0x8E};
    expected.insert(expected.end(), config.begin(), config.end());
    EXPECT_EQ(f.port.Take(), expected);
    f.Receive({ACK});
    EXPECT_EQ(f.port.Take(), (std::vector<uint8_t>{0x2B, 5}));
    f.Receive({ACK});
    EXPECT_EQ(f.port.Take(), (std::vector<uint8_t>{0x2C, 0}));
    f.Receive({ACK});
    EXPECT_EQ(f.port.written, std::vector<uint8_t>{0x1E});

    // The box stored what was sent: reading it back leaves the tables as they were.
    box.image = image;
    box.config = config;
    box.startTime = 5;
    box.pedal = 0;
    EXPECT_EQ(f.Converse(box), Chain(DownloadChain('3')));
    EXPECT_EQ(AllProgramTexts(f.form), tables);
    EXPECT_EQ(f.form.GridByName(Grid::StrGridConfig).Cell(15, 0), "65535");
}

TEST(SendChain, TwoChannelUploadsSeventyTwoBlocksAndSkipsThePedal) {
    LinkFixture f;
    BoxAnswers box('2');
    Download(f.link);
    f.Converse(box);
    f.form.GridByName(Grid::StrGridConfig).SetCell(0, 0, "44");
    f.port.events.clear();
    SendSerialNumber(f.link);
    f.port.Take();
    f.Receive({ACK});
    const auto upload = f.port.Take();
    EXPECT_EQ(upload.size(), 1 + 72 * 32u);
    EXPECT_EQ(upload[0], 0x01);
    EXPECT_EQ(std::count(f.port.events.begin(), f.port.events.end(), "write 32"), 72);
    f.Receive({ACK});
    EXPECT_EQ(f.port.Take(), (std::vector<uint8_t>{0x2A, 44}));
    f.Receive({ACK});
    EXPECT_EQ(f.port.Take(), (std::vector<uint8_t>{0x2B, 7})) << "the start time read before";
    f.Receive({ACK});
    EXPECT_EQ(f.port.Take(), std::vector<uint8_t>{0x1E});
}

TEST(SendChain, NewSerialNumberChoosesTheEdition) {
    LinkFixture f;
    Download(f.link);
    f.Converse(BoxAnswers('2'));
    f.form.ControlByName(Ctl::EditNewSerial).SetCaption("39999999");
    SendSerialNumber(f.link);
    f.port.Take();
    f.Receive({ACK});
    const auto upload = f.port.Take();
    EXPECT_EQ(upload.size(), 3745u);
    EXPECT_EQ(upload[0], 0x65);
}

TEST(SendChain, SerialNumberMustHaveEightCharactersAndAnEdition) {
    constexpr const char* kLength =
        "The serial number needs 8 characters (letters and digits); nothing was sent.";
    struct Case {
        const char* serial;
        const char* message;
    };
    for (const Case c :
         {Case{"", kLength}, Case{"3001234", kLength}, Case{"3001234\xC3\xA9", kLength},
          Case{"A0012345", kSerialEditionRequired}, Case{"10012345", kSerialEditionRequired}}) {
        const char* serial = c.serial;
        LinkFixture f;
        f.form.ControlByName(Ctl::EditNewSerial).SetCaption(serial);
        f.form.ControlByName(Ctl::ButtonSend).SetEnabled(true);
        f.form.ControlByName(Ctl::ButtonDownload).SetEnabled(true);
        f.vars.BoxSerial = "20000000";
        try {
            SendSerialNumber(f.link);
            ADD_FAILURE() << "accepted '" << serial << "'";
        } catch (const LinkError& error) {
            EXPECT_STREQ(error.what(), c.message) << serial;
        }
        EXPECT_TRUE(f.port.written.empty());
        EXPECT_TRUE(f.form.ControlByName(Ctl::ButtonSend).Enabled());
        EXPECT_TRUE(f.form.ControlByName(Ctl::ButtonDownload).Enabled());
        EXPECT_EQ(f.vars.BoxSerial, "20000000");
    }
}

// Every value the chain will write is converted before its first byte: the first bad one
// stops the send with nothing written, its page shown and its cell current.
TEST(SendChain, FirstBadValueStopsTheSendBeforeAnyByte) {
    struct Case {
        const char* name;
        char edition;
        std::function<void(LinkFixture&)> spoil;
        std::string message;  // empty: the send goes ahead
        int page = 0;
        Grid grid = Grid::StrGridConfig;
        int program = 0;
        PT table = PT::CH1;
        int col = 0, row = 0;
    };
    const std::string tail = " is not a whole number. Nothing was sent.";
    const Case cases[] = {
        {"Box3_P1_CH1_RPM", '3',
         [](LinkFixture& f) { f.form.Program(1, PT::CH1).SetCell(1, 0, "12a"); },
         "P1 CH1 RPM_1 column 1: \"12a\"" + tail, 1, Grid::StrGridConfig, 1, PT::CH1, 1, 0},
        {"Box2_P9_CH2_MULTI", '2',
         [](LinkFixture& f) { f.form.Program(9, PT::CH2).SetCell(16, 3, ""); },
         "P9 CH2 MULTI%_2 column 16: \"\"" + tail, 9, Grid::StrGridConfig, 9, PT::CH2, 16, 3},
        {"Box3_P4_CH3_PRESS", '3',
         [](LinkFixture& f) { f.form.Program(4, PT::CH3).SetCell(2, 2, "1.5"); },
         "P4 CH3 PRESS_3 column 2: \"1.5\"" + tail, 4, Grid::StrGridConfig, 4, PT::CH3, 2, 2},
        {"Box3_P5_FUEL", '3',
         [](LinkFixture& f) { f.form.Program(5, PT::Fuel).SetCell(7, 0, "x"); },
         "P5 FUEL FUEL% column 7: \"x\"" + tail, 5, Grid::StrGridConfig, 5, PT::Fuel, 7, 0},
        {"Box2_CH3IsNotSent", '2',
         [](LinkFixture& f) { f.form.Program(2, PT::CH3).SetCell(1, 0, "x"); }, ""},
        {"Box3_Config16", '3',
         [](LinkFixture& f) { f.form.GridByName(Grid::StrGridConfig).SetCell(15, 0, "7e4"); },
         "Service Configuration column 16: \"7e4\"" + tail, 0, Grid::StrGridConfig, 0, PT::CH1, 15,
         0},
        {"Box2_ConfigByte", '2',
         [](LinkFixture& f) { f.form.GridByName(Grid::StrGridConfig).SetCell(0, 0, "abc"); },
         "Service Configuration column 1: \"abc\"" + tail, 0, Grid::StrGridConfig, 0, PT::CH1, 0,
         0},
        {"Box2_ConfigBeyondTheByteIsNotSent", '2',
         [](LinkFixture& f) { f.form.GridByName(Grid::StrGridConfig).SetCell(5, 0, "x"); }, ""},
        {"Box3_StartTime", '3',
         [](LinkFixture& f) { f.form.ControlByName(Ctl::NumBoxStartTime).SetCaption("7a"); },
         "Service Start time: \"7a\"" + tail, 0},
        // Values the box cannot store are refused, not wrapped.
        {"Box3_MapAboveItsRange", '3',
         [](LinkFixture& f) { f.form.Program(1, PT::CH1).SetCell(9, 2, "40000"); },
         "P1 CH1 PRESS_1 column 9: 40000 is outside -32768 to 32767. Nothing was sent.", 1,
         Grid::StrGridConfig, 1, PT::CH1, 9, 2},
        {"Box2_MapBelowItsRange", '2',
         [](LinkFixture& f) { f.form.Program(3, PT::CH2).SetCell(1, 0, "-32769"); },
         "P3 CH2 RPM_2 column 1: -32769 is outside -32768 to 32767. Nothing was sent.", 3,
         Grid::StrGridConfig, 3, PT::CH2, 1, 0},
        {"Box3_MapEdgesGo", '3',
         [](LinkFixture& f) {
             f.form.Program(1, PT::CH1).SetCell(9, 2, "32767");
             f.form.Program(9, PT::Fuel).SetCell(16, 0, "-32768");
         },
         ""},
        {"Box3_ConfigAboveItsRange", '3',
         [](LinkFixture& f) { f.form.GridByName(Grid::StrGridConfig).SetCell(0, 0, "70000"); },
         "Service Configuration column 1: 70000 is outside 0 to 65535. Nothing was sent.", 0,
         Grid::StrGridConfig, 0, PT::CH1, 0, 0},
        {"Box3_ConfigNegative", '3',
         [](LinkFixture& f) { f.form.GridByName(Grid::StrGridConfig).SetCell(4, 0, "-5"); },
         "Service Configuration column 5: -5 is outside 0 to 65535. Nothing was sent.", 0,
         Grid::StrGridConfig, 0, PT::CH1, 4, 0},
        {"Box2_ConfigBeyondItsByte", '2',
         [](LinkFixture& f) { f.form.GridByName(Grid::StrGridConfig).SetCell(0, 0, "300"); },
         "Service Configuration column 1: 300 is outside 0 to 255. Nothing was sent.", 0,
         Grid::StrGridConfig, 0, PT::CH1, 0, 0},
        {"Box2_ConfigEdgeGoes", '2',
         [](LinkFixture& f) { f.form.GridByName(Grid::StrGridConfig).SetCell(0, 0, "255"); }, ""},
        {"Box3_StartTimeBeyondItsByte", '3',
         [](LinkFixture& f) { f.form.ControlByName(Ctl::NumBoxStartTime).SetCaption("300"); },
         "Service Start time: 300 is outside 0 to 255. Nothing was sent.", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkFixture f;
        Download(f.link);
        f.Converse(BoxAnswers(c.edition));
        f.form.SetPageIndex(c.page == 3 ? 2 : 3);
        c.spoil(f);
        if (c.message.empty()) {
            SendSerialNumber(f.link);
            EXPECT_EQ(f.port.Take().at(0), Cmd::WriteSerial);
            continue;
        }
        try {
            SendSerialNumber(f.link);
            ADD_FAILURE() << "sent";
        } catch (const LinkError& error) {
            EXPECT_EQ(error.what(), c.message);
        }
        EXPECT_TRUE(f.port.written.empty()) << "nothing written";
        EXPECT_EQ(f.vars.Awaiting, 0);
        EXPECT_TRUE(f.form.ControlByName(Ctl::ButtonDownload).Enabled());
        EXPECT_TRUE(f.form.ControlByName(Ctl::ButtonSend).Enabled());
        EXPECT_EQ(f.form.PageIndex(), c.page);
        if (c.message.rfind("Service Start", 0) == 0) continue;
        TextGrid& grid =
            c.program > 0 ? f.form.ProgramGrid(c.program, c.table) : f.form.GridByName(c.grid);
        EXPECT_EQ(grid.Col(), c.col);
        EXPECT_EQ(grid.Row(), c.row);
    }
}

// A cell edited to a bad text while the chain runs still never sends a code without its data.
TEST(SendChain, CellSpoiledMidChainSendsNoCodeWithoutItsData) {
    {  // configuration byte
        LinkFixture f;
        Download(f.link);
        f.Converse(BoxAnswers('2'));
        SendSerialNumber(f.link);
        f.form.GridByName(Grid::StrGridConfig).SetCell(0, 0, "x");
        f.Receive({ACK});
        f.port.Take();
        EXPECT_THROW(f.Receive({ACK}), ConversionError);
        EXPECT_TRUE(f.port.written.empty()) << "0x2A is not written without its byte";
        EXPECT_EQ(f.vars.Awaiting, 0) << "the chain stops";
    }
    {  // start time
        LinkFixture f;
        Download(f.link);
        f.Converse(BoxAnswers('3'));
        SendSerialNumber(f.link);
        f.Receive({ACK});
        f.Receive({ACK});
        f.port.Take();
        f.form.ControlByName(Ctl::NumBoxStartTime).SetCaption("");
        f.Receive({ACK});
        EXPECT_TRUE(f.port.written.empty()) << "an empty start time ends the chain";
    }
    {  // image
        LinkFixture f;
        Download(f.link);
        f.Converse(BoxAnswers('3'));
        SendSerialNumber(f.link);
        f.form.Program(9, PT::Fuel).SetCell(16, 0, "");
        f.port.Take();
        EXPECT_THROW(f.Receive({ACK}), ConversionError);
        EXPECT_TRUE(f.port.written.empty());
    }
}

TEST(SendChain, AckMergedWithOtherBytesIsRecognised) {
    LinkFixture f;
    Download(f.link);
    f.Converse(BoxAnswers('3'));
    SendSerialNumber(f.link);
    f.port.Take();
    f.Receive({ACK, 0x00, 0x7F});
    const std::vector<uint8_t> written = f.port.Take();
    ASSERT_FALSE(written.empty()) << "the ACK moves the chain on";
    EXPECT_EQ(written[0], Cmd::WriteImage3);
    EXPECT_EQ(f.vars.Awaiting, ACK);
    EXPECT_EQ(f.vars.RxPos, 0) << "the bytes behind it start nothing";
}

TEST(ProgramSelection, WritesTheNumberAndMarksOnAck) {
    LinkFixture f;
    f.form.SetPageIndex(2);
    SelectProgram(f.link, 4);
    EXPECT_EQ(f.port.Take(), (std::vector<uint8_t>{0x29, 4}));
    EXPECT_EQ(f.vars.ActiveProgram, 4);
    EXPECT_NE(f.form.ControlByName(Ctl::ButtonP4).Color(), clBlue) << "only after the ACK";
    f.Receive({ACK});
    EXPECT_EQ(f.form.ControlByName(Ctl::ButtonP4).Color(), clBlue);
    EXPECT_EQ(f.form.PageIndex(), 4);
    EXPECT_TRUE(f.port.written.empty());

    f.vars.DynoLogging = 1;
    SelectProgram(f.link, 7);
    f.vars.DynoLogging = 0;
    f.port.open = false;
    SelectProgram(f.link, 8);
    EXPECT_TRUE(f.port.written.empty());
    EXPECT_EQ(f.vars.ActiveProgram, 4);
}

// A user command while another exchange waits for its answer would be taken for part of
// that answer, or its answer for the awaited one. It is refused, writing nothing.
TEST(OneExchangeAtATime, CommandsWaitForTheAnswerInProgress) {
    struct Case {
        const char* name;
        std::function<void(Link&)> command;
    };
    const Case commands[] = {
        {"Download", [](Link& l) { Download(l); }},
        {"Send", [](Link& l) { SendSerialNumber(l); }},
        {"program button", [](Link& l) { SelectProgram(l, 3); }},
        {"Dyno log ON", [](Link& l) { SwitchDynoLog(l); }},
    };
    // Where the exchange stands when the user acts: the download's image arriving, the
    // send chain's image upload awaiting its ACK, a program selection awaiting its ACK.
    struct Stage {
        const char* name;
        std::function<void(LinkFixture&)> reach;
    };
    const Stage stages[] = {
        {"image arriving",
         [](LinkFixture& f) {
             BoxAnswers box('3');
             Download(f.link);
             f.Receive(box.AnswerTo(f.port.Take()));
             const auto image = box.AnswerTo(f.port.Take());
             f.Receive(std::vector<uint8_t>(image.begin(), image.begin() + 1000));
         }},
        {"upload awaiting its ACK",
         [](LinkFixture& f) {
             f.vars.BoxSerial = "30012345";
             SendSerialNumber(f.link);
             f.port.Take();
             f.Receive({ACK});
         }},
        {"program awaiting its ACK", [](LinkFixture& f) { SelectProgram(f.link, 6); }},
    };
    for (const Stage& stage : stages) {
        for (const Case& c : commands) {
            SCOPED_TRACE(std::string(c.name) + " while " + stage.name);
            LinkFixture f;
            f.form.ControlByName(Ctl::EditNewSerial).SetCaption("30012345");
            stage.reach(f);
            f.port.Take();
            const Variables before = f.vars;
            try {
                c.command(f.link);
                ADD_FAILURE() << "accepted";
            } catch (const LinkError& error) {
                EXPECT_STREQ(error.what(), kBoxStillAnswering);
            }
            EXPECT_TRUE(f.port.written.empty());
            EXPECT_EQ(f.vars.Awaiting, before.Awaiting);
            EXPECT_EQ(f.vars.LastCommand, before.LastCommand);
            EXPECT_EQ(f.vars.RxPos, before.RxPos);
            EXPECT_EQ(f.vars.BoxSerial, before.BoxSerial);
            EXPECT_EQ(f.vars.ActiveProgram, before.ActiveProgram);
            EXPECT_EQ(f.vars.DynoLogging, 0);
        }
    }
}

TEST(OneExchangeAtATime, TheExchangeInProgressFinishesUntouched) {
    LinkFixture f;
    BoxAnswers box('3');
    // The image holds the codes of a serial report and an ACK, as real maps may.
    box.image[10] = Cmd::ReadSerial;
    box.image[11] = ACK;
    Download(f.link);
    f.Receive(box.AnswerTo(f.port.Take()));
    const auto image = box.AnswerTo(f.port.Take());
    f.Receive(std::vector<uint8_t>(image.begin(), image.begin() + 20));
    EXPECT_THROW(Download(f.link), LinkError);
    EXPECT_THROW(SendSerialNumber(f.link), LinkError);
    f.Receive(std::vector<uint8_t>(image.begin() + 20, image.end()));
    std::vector<uint8_t> commands = {Cmd::ReadSerial, Cmd::ReadImage3};
    const auto rest = f.Converse(box);
    commands.insert(commands.end(), rest.begin(), rest.end());
    EXPECT_EQ(commands, Chain(DownloadChain('3')));
    EXPECT_EQ(f.vars.BoxSerial, "30012345");
    EXPECT_EQ(f.form.Program(1, PT::CH1).Cell(6, 0), std::to_string(ImageValue(box, 10)));
    // Idle again: commands go out.
    Download(f.link);
    EXPECT_EQ(f.port.Take(), std::vector<uint8_t>{Cmd::ReadSerial});
}

TEST(OneExchangeAtATime, TheStreamCanAlwaysBeSwitchedOff) {
    LinkFixture f;
    f.vars.BoxSerial = "30012345";
    SwitchDynoLog(f.link);
    EXPECT_FALSE(ExchangeInProgress(f.vars)) << "the live stream is no exchange";
    SwitchDynoLog(f.link);
    EXPECT_EQ(f.port.Take(), (std::vector<uint8_t>{Cmd::LiveOn3, Cmd::LiveOff3}));
}

TEST(MarkActiveProgram, ColoursOneButtonAndShowsItsPage) {
    struct Case {
        int page;
        uint8_t n;
        int pageAfter;
    };
    for (const Case c : {Case{0, 3, 0}, Case{4, 0, 4}, Case{2, 9, 9}, Case{5, 12, 5}}) {
        LinkFixture f;
        f.form.SetPageIndex(c.page);
        MarkActiveProgram(f.form, f.vars, c.n);
        for (int k = 0; k <= 9; ++k) {
            EXPECT_EQ(f.form.ControlByName(ProgramButton(k)).Color(), k == c.n ? clBlue : 0u);
        }
        EXPECT_EQ(f.form.PageIndex(), c.pageAfter);
        EXPECT_EQ(f.vars.ActiveProgram, c.n);
    }
}

TEST(MarkActiveProgram, ChartsFollowThePageItShows) {
    LinkFixture f;
    f.form.SetPageIndex(2);
    for (int c = 1; c <= 16; ++c) f.form.Program(7, PT::CH2).SetCell(c, 1, std::to_string(c * 3));
    MarkActiveProgram(f.form, f.vars, 7);
    ASSERT_EQ(f.form.Series(2).Count(), 16);
    EXPECT_EQ(f.form.Series(2).Value(15), 48.0);
}

TEST(DynoLogSwitch, WritesTheEditionsCodesAndSetsTheControls) {
    struct Case {
        const char* serial;
        uint8_t program;
        std::vector<uint8_t> on, off;
    };
    for (const Case& c : {Case{"30000000", 0, {0x79}, {0x78}}, Case{"20000000", 3, {0x15}, {0x14}},
                          Case{"", 0, {}, {}}}) {
        LinkFixture f;
        f.vars.BoxSerial = c.serial;
        f.vars.ActiveProgram = c.program;
        f.vars.DynoLogP0[5 * 4 + 2] = "50";
        f.vars.DynoLogP1toP9[5 * 4 + 2] = "93";
        SwitchDynoLog(f.link);
        EXPECT_EQ(f.port.Take(), c.on);
        EXPECT_EQ(f.vars.DynoLogging, 1);
        EXPECT_EQ(f.form.ControlByName(Ctl::ButtonDynoLog).Caption(), "Dyno log OFF");
        EXPECT_EQ(f.form.ControlByName(Ctl::Shape2).Color(), clLime);
        EXPECT_FALSE(f.form.ControlByName(Ctl::ButtonDownload).Enabled());
        EXPECT_EQ(f.form.ControlByName(Ctl::RadioButtP0).Checked(), c.program == 0);
        if (c.program != 0) {
            EXPECT_EQ(f.form.ControlByName(Ctl::RadioButtP1toP9).Caption(), "P=3");
        }
        // The table shows the checked button's record at once.
        EXPECT_EQ(f.form.GridByName(Grid::StrGridDynoLog).Cell(5, 2), c.program == 0 ? "50" : "93");
        SwitchDynoLog(f.link);
        EXPECT_EQ(f.port.Take(), c.off);
        EXPECT_EQ(f.vars.DynoLogging, 0);
        EXPECT_EQ(f.form.ControlByName(Ctl::ButtonDynoLog).Caption(), "Dyno log ON");
        EXPECT_EQ(f.form.ControlByName(Ctl::Shape2).Color(), clRed);
        EXPECT_TRUE(f.form.ControlByName(Ctl::ButtonSend).Enabled());
    }
}

// Past the deadline of the awaited answer the chain stops, the buffer starts afresh, the
// buttons are usable and the message names what the box did not answer.
TEST(Deadline, OverdueAnswerStopsTheChainWithOneMessage) {
    using namespace std::chrono_literals;
    struct Case {
        const char* name;
        std::function<void(LinkFixture&)> start;
        const char* text;
    };
    const Case cases[] = {
        {"SerialReport", [](LinkFixture& f) { Download(f.link); },
         "The box did not answer the request for its serial number within 0.5 s. Check that "
         "the right port is chosen and that the box is powered."},
        {"Image3",
         [](LinkFixture& f) {
             Download(f.link);
             f.Receive(BoxAnswers('3').AnswerTo({Cmd::ReadSerial}));
         },
         "The box did not answer the request for its maps within 0.8 s. Check that the right "
         "port is chosen and that the box is powered."},
        {"ImageUploadAck",
         [](LinkFixture& f) {
             Download(f.link);
             f.Converse(BoxAnswers('2'));
             SendSerialNumber(f.link);
             f.Receive({ACK});
         },
         "The box did not answer the maps sent to it within 0.5 s. Check that the right port "
         "is chosen and that the box is powered."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkFixture f;
        c.start(f);
        f.port.Take();
        // The first byte of the answer, and no more: an answer on its way has the wire time
        // of its rest, counted from its last piece.
        const size_t length = AnswerLength(f.vars.Awaiting);
        if (length > 1) {
            const auto before = std::chrono::steady_clock::now();
            f.Receive({f.vars.Awaiting});
            EXPECT_GE(f.vars.AnswerDue, before + WireTime(length - 1) + kAnswerMargin);
        }
        const auto due = f.vars.AnswerDue;
        EXPECT_EQ(AnswerOverdue(f.link, due - 1ms), "") << "not yet";
        EXPECT_EQ(AnswerOverdue(f.link, due), c.text);
        EXPECT_EQ(f.vars.Awaiting, 0);
        EXPECT_EQ(f.vars.RxPos, 0);
        EXPECT_TRUE(f.form.ControlByName(Ctl::ButtonDownload).Enabled());
        EXPECT_TRUE(f.form.ControlByName(Ctl::ButtonSend).Enabled());
        EXPECT_EQ(AnswerOverdue(f.link, due + 1s), "") << "said once";
        EXPECT_TRUE(f.port.written.empty()) << "the chain stops";
    }
    LinkFixture live;
    live.vars.BoxSerial = "30012345";
    SwitchDynoLog(live.link);
    EXPECT_EQ(AnswerOverdue(live.link, live.vars.AnswerDue + 10s), "")
        << "the live stream has no deadline";
}

// The send's read-back against what it wrote: equal gives the verdict "verified"; each
// difference is one line, and a differing cell is marked with the sent value.
TEST(Verify, ReadBackHeldAgainstWhatWasSent) {
    struct Case {
        const char* name;
        std::function<void(LinkFixture&, BoxAnswers&)> differ;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"Equal", [](LinkFixture&, BoxAnswers&) {}, {}},
        {"ImageValue",
         [](LinkFixture& f, BoxAnswers& box) {
             f.form.Program(1, PT::CH1).SetCell(3, 2, "120");
             box.image[68] = 0;
             box.image[69] = 119;
         },
         {"P1 CH1 PRESS_1 column 3: sent 120, box has 119"}},
        {"ConfigValue",
         [](LinkFixture& f, BoxAnswers& box) {
             f.form.GridByName(Grid::StrGridConfig).SetCell(1, 0, "10");
             box.config[2] = 0;
             box.config[3] = 11;
         },
         {"Configuration column 2: sent 10, box has 11"}},
        {"StartTimeAndPedal",
         [](LinkFixture& f, BoxAnswers& box) {
             f.form.ControlByName(Ctl::NumBoxStartTime).SetCaption("5");
             box.startTime = 4;
             f.form.ControlByName(Ctl::ComboBoxPedalRes).SetItemIndex(0);
         },
         {"Start time: sent 5, box has 4", "Pedal response: sent 0, box has 2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LinkFixture f;
        BoxAnswers box('3');
        Download(f.link);
        f.Converse(box);
        c.differ(f, box);
        SendSerialNumber(f.link);
        f.Converse(box);
        EXPECT_EQ(f.vars.Differences, c.lines);
        EXPECT_EQ(f.vars.VerifyOutcome, c.lines.empty() ? Variables::Verification::Verified
                                                        : Variables::Verification::Failed);
        EXPECT_FALSE(f.vars.Verifying);
        if (std::string(c.name) == "ImageValue") {
            EXPECT_EQ(f.form.Program(1, PT::CH1).Cell(3, 2), "119") << "the box's value shows";
            EXPECT_EQ(f.form.Program(1, PT::CH1).CellMark(3, 2), "Sent 120, box has 119");
            EXPECT_EQ(f.form.Program(1, PT::CH1).CellMark(4, 2), "");
            f.form.Program(1, PT::CH1).SetCell(3, 2, "121");
            EXPECT_EQ(f.form.Program(1, PT::CH1).CellMark(3, 2), "") << "an edit clears the mark";
        }
    }
}

TEST(Verify, ReportHasAtMostThirtyLines) {
    std::vector<std::string> differences;
    for (int k = 1; k <= 42; ++k) differences.push_back("line " + std::to_string(k));
    const std::string report = VerifyReport(differences);
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 30);
    EXPECT_EQ(report.substr(0, 14), "line 1\nline 2\n");
    EXPECT_EQ(report.substr(report.size() - 23), "line 30\n... and 12 more");
    EXPECT_EQ(VerifyReport({"one"}), "one");
}

TEST(Verify, ChainThatStopsBeforeItsReadBackGivesNoVerdict) {
    LinkFixture f;
    BoxAnswers box('2');
    Download(f.link);
    f.Converse(box);
    f.form.ControlByName(Ctl::NumBoxStartTime).SetCaption("");
    SendSerialNumber(f.link);
    f.Converse(box);
    EXPECT_EQ(f.vars.VerifyOutcome, Variables::Verification::None);
    EXPECT_FALSE(f.vars.Verifying);
}

}  // namespace

namespace {

// A read of the box aside from the tables: in the dialect of the box behind the port, which
// may be of the other edition; the tables, the serial label and the tables' box stay.
TEST(SideRead, ReadsTheBoxInItsOwnDialectAndLeavesTheTables) {
    struct Row {
        const char* name;
        bool copy;
        std::vector<uint8_t> codes;
        size_t copied;  // bytes of the tuning-file copy
    };
    const Row rows[] = {
        {"IdentityOnly", false, {Cmd::ReadSerial}, 0},
        {"Copy",
         true,
         {Cmd::ReadSerial, Cmd::ReadImage2, Cmd::ReadConfig2, Cmd::ReadStartTime},
         2305},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LinkFixture f;
        Download(f.link);
        f.Converse(BoxAnswers('3'));
        const std::string tablesSerial = f.vars.TablesSerial;
        const std::string label = f.form.ControlByName(Ctl::LabelSerial).Caption();
        f.form.Program(2, PT::CH1).SetCell(3, 1, "1234");
        BoxAnswers other('2');
        other.serial = "29999999";
        ReadBoxAside(f.link, row.copy);
        EXPECT_EQ(f.Converse(other), row.codes);
        EXPECT_EQ(f.vars.PortSerial, "29999999");
        EXPECT_EQ(f.vars.TablesSerial, tablesSerial);
        EXPECT_EQ(f.vars.Edition(), '3') << "the tables' edition";
        EXPECT_EQ(f.form.ControlByName(Ctl::LabelSerial).Caption(), label);
        EXPECT_EQ(f.form.Program(2, PT::CH1).Cell(3, 1), "1234");
        EXPECT_EQ(DownloadedTuningFile(f.vars).size(), row.copied);
        EXPECT_EQ(f.vars.Reading, Variables::SideRead::None);
        EXPECT_EQ(f.vars.Awaiting, 0);
    }
}

// An answer overdue during a send: what the box took, what it may not have stored, what
// was not sent, and the backup to restore it from.
TEST(SendOverdue, SaysWhatTheBoxMayHold) {
    Variables vars;
    vars.BoxSerial = "30012345";
    const std::string overdue = NoAnswerText(Cmd::WriteConfig3, std::chrono::milliseconds(500));
    EXPECT_EQ(SendOverdueText(overdue, vars, Cmd::WriteConfig3, "/b/30012345-1.bin"),
              "The box did not answer the configuration sent to it within 0.5 s. The box may be "
              "half-written: it took the serial number and the maps; the configuration may or "
              "may not have been stored; the start time and the pedal response were not sent. "
              "What it held before the send is in the backup \"/b/30012345-1.bin\": open that "
              "file and send it to restore the box, or send again.");
    EXPECT_EQ(SendOverdueText(NoAnswerText(Cmd::ReadSerial, std::chrono::milliseconds(500)), vars,
                              Cmd::ReadSerial, ""),
              "The box did not answer the request for its serial number within 0.5 s. The box "
              "took every value of the send, but its read-back did not come, so the send is not "
              "verified. Download to check what the box holds.");
    vars.BoxSerial = "20012345";
    EXPECT_NE(SendOverdueText(NoAnswerText(Cmd::WriteSerial, std::chrono::milliseconds(500)), vars,
                              Cmd::WriteSerial, "")
                  .find("the new serial number within 0.5 s. The box may be half-written: the "
                        "serial number may or may not have been stored; the maps, the "
                        "configuration and the start time were not sent. Send again"),
              std::string::npos);
}

}  // namespace

namespace {

// What a send would change on the box against what was read from it: one line per value.
TEST(SendPreview, ListsEveryValueTheSendWouldChange) {
    LinkFixture f;
    Download(f.link);
    BoxAnswers box('3');
    f.Converse(box);
    EXPECT_TRUE(SendPreview(f.form, f.vars).empty()) << "the tables as downloaded";

    const std::string was = f.form.Program(1, PT::CH1).Cell(3, 2);
    f.form.Program(1, PT::CH1).SetCell(3, 2, "1500");
    f.form.Program(9, PT::Fuel).SetCell(16, 0, "+" + f.form.Program(9, PT::Fuel).Cell(16, 0));
    const std::string config = f.form.GridByName(Grid::StrGridConfig).Cell(1, 0);
    f.form.GridByName(Grid::StrGridConfig).SetCell(1, 0, "4321");
    f.form.ControlByName(Ctl::NumBoxStartTime).SetCaption("3");
    f.form.ControlByName(Ctl::ComboBoxPedalRes).SetItemIndex(0);
    f.form.ControlByName(Ctl::EditNewSerial).SetCaption("30012399");
    const std::string arrow = " \u2192 ";
    EXPECT_EQ(SendPreview(f.form, f.vars),
              (std::vector<std::string>{
                  "Serial number: " + box.serial + arrow + "30012399",
                  "P1 CH1 PRESS_1 column 3: " + was + arrow + "1500",
                  "Service Configuration column 2: " + config + arrow + "4321",
                  "Start time: 7" + arrow + "3",
                  "Pedal response: Insane" + arrow + "Lazy",
              }))
        << "a value written differently but equal (\"+N\") is no change";
}

}  // namespace
