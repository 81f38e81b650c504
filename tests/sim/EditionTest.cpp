// Both editions through a real pseudo-terminal: the download chain, writes that a later
// download returns, and the other edition's dialect.
#include <gtest/gtest.h>

#include <random>

#include "BoxSimulator.h"
#include "SimPort.h"

namespace {

struct Edition {
    const char* serial;
    uint8_t readImage, writeImage;
    size_t imageSize, programBlock, channels;
    uint8_t readConfig, writeConfig;
    size_t configSize;
    uint8_t liveOn, liveOff;
    // Commands of the other dialect, with their data bytes.
    std::vector<Bytes> foreign;
};

void PrintTo(const Edition& e, std::ostream* os) {
    *os << e.serial;
}

const Edition kTwoChannel{"20012345",
                          0x02,
                          0x01,
                          2304,
                          256,
                          2,
                          0x20,
                          0x2A,
                          1,
                          0x15,
                          0x14,
                          {{0x66},
                           {0x84},
                           {0x22},
                           {0x23},
                           Cat({0x65}, Bytes(3744, 0x11)),
                           Cat({0x8E}, Bytes(32, 0x22)),
                           {0x2C, 0x02},
                           {0x79}}};
const Edition kThreeChannel{
    "30012345", 0x66, 0x65, 3744,
    416,        3,    0x84, 0x8E,
    32,         0x79, 0x78, {{0x02}, {0x20}, Cat({0x01}, Bytes(2304, 0x11)), {0x2A, 0x07}, {0x15}}};

Bytes RandomBytes(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(gen());
    return bytes;
}

class EditionTest : public testing::TestWithParam<Edition> {
  protected:
    void SetUp() override {
        BoxSimOptions options;
        options.serial = GetParam().serial;
        options.pacing = false;
        options.liveInterval = 2ms;
        options.liveRpmLow = 1000;
        options.liveRpmHigh = 1300;
        options.liveRpmStep = 100;
        box_ = std::make_unique<BoxSimulator>(options);
        ASSERT_TRUE(box_->Start()) << box_->LastError();
        port_ = std::make_unique<SimPort>(box_->PortPath());
        ASSERT_TRUE(port_->IsOpen());
    }

    std::unique_ptr<BoxSimulator> box_;
    std::unique_ptr<SimPort> port_;
};

TEST_P(EditionTest, DownloadChainAnswersEveryStep) {
    const Edition& e = GetParam();
    SimPort& port = *port_;

    Bytes serial = port.Exchange({0x1E}, 9);
    EXPECT_EQ(std::string(serial.begin(), serial.end()), "\x1E" + std::string(e.serial));

    Bytes image = port.Exchange({e.readImage}, 1 + e.imageSize);
    ASSERT_EQ(image.size(), 1 + e.imageSize);
    EXPECT_EQ(image[0], e.readImage);
    // Every channel's RPM row of every program holds the breakpoints 1000..8500.
    for (size_t p = 0; p < 9; ++p)
        for (size_t ch = 0; ch < e.channels; ++ch)
            for (size_t c = 0; c < 16; ++c)
                ASSERT_EQ(WordAt(image, 1 + p * e.programBlock + ch * 128 + 2 * c), 1000 + 500 * c)
                    << "P" << p + 1 << " CH" << ch + 1 << " column " << c + 1;

    EXPECT_EQ(port.Exchange({0x1F}, 3), (Bytes{0x1F, 1, 0}));
    Bytes config = port.Exchange({e.readConfig}, 1 + e.configSize);
    ASSERT_EQ(config.size(), 1 + e.configSize);
    EXPECT_EQ(config[0], e.readConfig);
    EXPECT_EQ(e.configSize == 1 ? config[1] : WordAt(config, 1), 2) << "RPM pulses";
    EXPECT_EQ(port.Exchange({0x21}, 2), (Bytes{0x21, 2}));

    if (e.channels == 3) {
        EXPECT_EQ(port.Exchange({0x22}, 2), (Bytes{0x22, 1}));
        Bytes sent = port.Exchange({0x23}, 385);
        ASSERT_EQ(sent.size(), 385u);
        EXPECT_EQ(sent[0], 0x23);
        // Both channels report manufacturer, sensor type, revision, status and OEM codes.
        for (size_t block : {1u, 193u}) {
            std::vector<uint8_t> ids;
            for (size_t k = 0; k < 64; ++k) ids.push_back(sent[block + 3 * k]);
            for (uint8_t id : {0x01, 0x03, 0x05, 0x06, 0x90, 0x91})
                EXPECT_NE(std::find(ids.begin(), ids.end(), id), ids.end())
                    << "block at " << block << " lacks identifier " << int(id);
        }
    }
    EXPECT_TRUE(port.ReadUntilQuiet().empty());
}

TEST_P(EditionTest, WritesAreAcknowledgedStoredAndLogged) {
    const Edition& e = GetParam();
    SimPort& port = *port_;
    const std::string newSerial = std::string(1, e.serial[0]) + "9876543";
    const Bytes image = RandomBytes(e.imageSize, 7);
    const Bytes config = RandomBytes(e.configSize, 8);

    std::vector<Bytes> writes = {
        Cat({0x28}, Bytes(newSerial.begin(), newSerial.end())),
        Cat({e.writeImage}, image),
        Cat({e.writeConfig}, config),
        {0x2B, 7},
        {0x29, 4},
    };
    if (e.channels == 3) writes.push_back({0x2C, 2});
    for (const Bytes& w : writes)
        EXPECT_EQ(port.Exchange(w, 1), Bytes{ACK}) << "command " << int(w[0]);

    EXPECT_EQ(port.Exchange({0x1E}, 9), Cat({0x1E}, Bytes(newSerial.begin(), newSerial.end())));
    EXPECT_EQ(port.Exchange({e.readImage}, 1 + e.imageSize), Cat({e.readImage}, image));
    EXPECT_EQ(port.Exchange({e.readConfig}, 1 + e.configSize), Cat({e.readConfig}, config));
    EXPECT_EQ(port.Exchange({0x21}, 2), (Bytes{0x21, 7}));
    EXPECT_EQ(port.Exchange({0x1F}, 3), (Bytes{0x1F, 4, 0}));
    if (e.channels == 3) {
        EXPECT_EQ(port.Exchange({0x22}, 2), (Bytes{0x22, 2}));
    }

    // The log holds each write with its data, in order.
    const auto received = box_->Received();
    ASSERT_GE(received.size(), writes.size());
    for (size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(received[i].code, writes[i][0]);
        EXPECT_EQ(received[i].data, Bytes(writes[i].begin() + 1, writes[i].end()));
    }
}

TEST_P(EditionTest, OtherDialectIsIgnoredWithoutLosingStep) {
    const Edition& e = GetParam();
    for (const Bytes& command : e.foreign) {
        port_->Write(command);
        EXPECT_TRUE(port_->ReadUntilQuiet(100ms).empty()) << "command " << int(command[0]);
    }
    EXPECT_EQ(port_->Exchange({0x1E}, 9).size(), 9u);
    EXPECT_EQ(box_->Received().size(), e.foreign.size() + 1);
}

TEST_P(EditionTest, LiveStreamSweepsUntilSwitchedOff) {
    const Edition& e = GetParam();
    SimPort& port = *port_;
    port.Write({e.liveOn});
    const Bytes stream = port.Read(20 * 13);
    ASSERT_EQ(stream.size(), 20u * 13);
    port.Write({e.liveOff});
    const Bytes tail = port.ReadUntilQuiet();
    ASSERT_EQ(tail.size() % 13, 0u);
    EXPECT_FALSE(box_->LiveOn());

    const Bytes all = Cat(stream, tail);
    const auto sent = box_->LiveSent();
    ASSERT_EQ(sent.size(), all.size() / 13) << "every message recorded is one delivered";
    uint16_t lowest = 0xFFFF, highest = 0;
    for (size_t m = 0; m < sent.size(); ++m) {
        const size_t at = 13 * m;
        ASSERT_EQ(all[at], 0x15);
        const LiveSample got{WordAt(all, at + 1), WordAt(all, at + 3), WordAt(all, at + 5),
                             WordAt(all, at + 7), WordAt(all, at + 9), WordAt(all, at + 11)};
        EXPECT_EQ(got, sent[m]) << "message " << m;
        EXPECT_EQ(got.press3 == 0, e.channels == 2) << "CH3 reading of message " << m;
        lowest = std::min(lowest, got.rpm);
        highest = std::max(highest, got.rpm);
    }
    // The sweep reaches both ends of 1000..1300 within 20 messages.
    EXPECT_EQ(lowest, 1000);
    EXPECT_EQ(highest, 1300);
}

// With shortLiveMessages a 2-channel box leaves out the CH3 word; a 3-channel box cannot.
TEST(EditionLive, ShortMessagesOnlyFromATwoChannelBox) {
    for (const char* serial : {"20012345", "30012345"}) {
        SCOPED_TRACE(serial);
        BoxSimOptions options;
        options.serial = serial;
        options.pacing = false;
        options.liveInterval = 2ms;
        options.shortLiveMessages = true;
        BoxSimulator box(options);
        ASSERT_TRUE(box.Start()) << box.LastError();
        SimPort port(box.PortPath());
        const size_t length = serial[0] == '2' ? 11 : 13;
        port.Write({serial[0] == '2' ? Cmd::LiveOn2 : Cmd::LiveOn3});
        Bytes all = port.Read(10 * length);
        port.Write({serial[0] == '2' ? Cmd::LiveOff2 : Cmd::LiveOff3});
        all = Cat(all, port.ReadUntilQuiet());
        const auto sent = box.LiveSent();
        ASSERT_EQ(all.size(), sent.size() * length);
        for (size_t m = 0; m < sent.size(); ++m) {
            ASSERT_EQ(all[m * length], Cmd::LiveData) << "message " << m;
            EXPECT_EQ(DecodeLiveMessage(&all[m * length], length), sent[m]) << "message " << m;
        }
    }
}

TEST(EditionSwitch, NewSerialChangesDialectAndKeepsMaps) {
    BoxSimOptions options;
    options.serial = "20012345";
    options.pacing = false;
    BoxSimulator box(options);
    ASSERT_TRUE(box.Start());
    SimPort port(box.PortPath());

    const Bytes image2 = RandomBytes(2304, 3);
    ASSERT_EQ(port.Exchange(Cat({0x01}, image2), 1), Bytes{ACK});
    const std::string serial3 = "31234567";
    ASSERT_EQ(port.Exchange(Cat({0x28}, Bytes(serial3.begin(), serial3.end())), 1), Bytes{ACK});

    port.Write({0x02});
    EXPECT_TRUE(port.ReadUntilQuiet(100ms).empty()) << "a 3-channel box ignores 0x02";
    const Bytes image3 = port.Exchange({0x66}, 3745);
    ASSERT_EQ(image3.size(), 3745u);
    // The CH1 and CH2 rows written as a 2-channel image are the first 256 bytes of each
    // 416-byte program block.
    for (size_t p = 0; p < 9; ++p)
        EXPECT_TRUE(std::equal(image2.begin() + p * 256, image2.begin() + (p + 1) * 256,
                               image3.begin() + 1 + p * 416))
            << "P" << p + 1;
}

INSTANTIATE_TEST_SUITE_P(Editions, EditionTest, testing::Values(kTwoChannel, kThreeChannel),
                         [](const auto& info) {
                             return std::string(info.param.serial).substr(0, 1) + "Channel";
                         });

}  // namespace
