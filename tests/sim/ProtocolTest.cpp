// The simulated box against every row of the protocol definition, and the chains pinned to
// the bytes the box expects.
#include <gtest/gtest.h>

#include "BoxModel.h"

namespace {

struct ProtocolRow {
    char edition;
    CommandRow command;
};

std::vector<ProtocolRow> AllRows() {
    std::vector<ProtocolRow> rows;
    for (char edition : {'2', '3'}) {
        for (const CommandRow& command : CommandsOf(edition)) rows.push_back({edition, command});
    }
    return rows;
}

class ProtocolRowTest : public testing::TestWithParam<ProtocolRow> {};

TEST_P(ProtocolRowTest, TheBoxAnswersAsTheRowSays) {
    const ProtocolRow& row = GetParam();
    BoxContents box = DefaultBoxContents(row.edition == '2' ? "20054321" : "30012345");
    std::vector<uint8_t> data(row.command.dataLength, 0);
    // A serial number of the same edition, so that the box keeps its dialect.
    if (row.command.code == Cmd::WriteSerial) data.assign(box.serial.begin(), box.serial.end());
    const BoxAnswer answer = HandleBoxCommand(box, row.command.code, data);
    switch (row.command.answer) {
        case AnswerKind::Response:
            ASSERT_EQ(answer.response.size(), row.command.answerLength);
            EXPECT_EQ(answer.response[0], row.command.answerCode);
            EXPECT_EQ(AnswerLength(row.command.answerCode), row.command.answerLength);
            break;
        case AnswerKind::Ack:
            EXPECT_EQ(answer.response, std::vector<uint8_t>{ACK});
            break;
        case AnswerKind::Stream:
            EXPECT_TRUE(answer.response.empty());
            EXPECT_EQ(answer.live, LiveSwitch::On);
            EXPECT_EQ(row.command.answerLength, kLiveMessageLength);
            break;
        case AnswerKind::None:
            EXPECT_TRUE(answer.response.empty());
            EXPECT_EQ(answer.live, LiveSwitch::Off);
            break;
    }
    // A command of one edition only is not answered by a box of the other.
    if (row.command.edition != '\0') {
        BoxContents other = DefaultBoxContents(row.edition == '2' ? "30012345" : "20054321");
        const BoxAnswer none = HandleBoxCommand(other, row.command.code, data);
        EXPECT_TRUE(none.response.empty());
        EXPECT_EQ(none.live, LiveSwitch::Unchanged);
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, ProtocolRowTest, testing::ValuesIn(AllRows()),
                         [](const testing::TestParamInfo<ProtocolRow>& info) {
                             return std::string("Box") + info.param.edition + "_" +
                                    info.param.command.name;
                         });

std::vector<uint8_t> Codes(std::span<const uint8_t> chain) {
    return {chain.begin(), chain.end()};
}

TEST(ProtocolChains, AreTheStepsTheBoxExpects) {
    EXPECT_EQ(Codes(DownloadChain('2')), (std::vector<uint8_t>{0x1E, 0x02, 0x1F, 0x20, 0x21}));
    EXPECT_EQ(Codes(DownloadChain('3')),
              (std::vector<uint8_t>{0x1E, 0x66, 0x1F, 0x84, 0x21, 0x22, 0x23}));
    EXPECT_EQ(Codes(SendChain('2')),
              (std::vector<uint8_t>{0x28, 0x01, 0x2A, 0x2B, 0x1E, 0x02, 0x1F, 0x20, 0x21}));
    EXPECT_EQ(Codes(SendChain('3')), (std::vector<uint8_t>{0x28, 0x65, 0x8E, 0x2B, 0x2C, 0x1E, 0x66,
                                                           0x1F, 0x84, 0x21, 0x22, 0x23}));
    for (char edition : {'2', '3'}) {
        for (uint8_t code : SendChain(edition))
            EXPECT_NE(FindCommand(code, edition), nullptr) << "every step is a command of its box";
    }
}

TEST(ProtocolEdition, TheFirstCharacterOfTheSerialNumber) {
    EXPECT_EQ(EditionOf("20054321"), '2');
    EXPECT_EQ(EditionOf("30012345"), '3');
    EXPECT_EQ(EditionOf("X0000000"), '\0');
    EXPECT_EQ(EditionOf(""), '\0');
    EXPECT_EQ(DialectOf("X0000000"), '3') << "the box speaks the 3-channel dialect by default";
    EXPECT_EQ(DialectOf("20054321"), '2');
}

TEST(ProtocolLive, MessageRoundTrip) {
    const LiveSample sample{8500, 65535, 95, 1, 0, 32768};
    const auto message = EncodeLiveMessage(sample);
    EXPECT_EQ(message[0], Cmd::LiveData);
    EXPECT_EQ(message[1], 0x21);
    EXPECT_EQ(message[2], 0x34) << "high byte first";
    EXPECT_EQ(DecodeLiveMessage(message.data()), sample);
}

}  // namespace
