#include "Protocol.h"

#include <algorithm>

namespace {

using A = AnswerKind;

// Both editions share the serial number, the running program, the start time and the
// program selection; the rest is each edition's own.
constexpr CommandRow kCommands[] = {
    {Cmd::ReadSerial, "ReadSerial", "the request for its serial number", '\0', 0, A::Response,
     Cmd::ReadSerial, 1 + kSerialLength},
    {Cmd::ReadImage2, "ReadImage2", "the request for its maps", '2', 0, A::Response,
     Cmd::ReadImage2, 1 + kImageSize2},
    {Cmd::ReadImage3, "ReadImage3", "the request for its maps", '3', 0, A::Response,
     Cmd::ReadImage3, 1 + kImageSize3},
    // The second byte of the answer has no meaning for the tool.
    {Cmd::ReadProgram, "ReadProgram", "the request for its running program", '\0', 0, A::Response,
     Cmd::ReadProgram, 3},
    {Cmd::ReadConfig2, "ReadConfig2", "the request for its configuration", '2', 0, A::Response,
     Cmd::ReadConfig2, 2},
    {Cmd::ReadConfig3, "ReadConfig3", "the request for its configuration", '3', 0, A::Response,
     Cmd::ReadConfig3, 1 + kConfigRowSize3},
    {Cmd::ReadStartTime, "ReadStartTime", "the request for its start time", '\0', 0, A::Response,
     Cmd::ReadStartTime, 2},
    {Cmd::ReadPedal, "ReadPedal", "the request for its pedal response", '3', 0, A::Response,
     Cmd::ReadPedal, 2},
    {Cmd::ReadSentData, "ReadSentData", "the request for its sensor data", '3', 0, A::Response,
     Cmd::ReadSentData, 1 + kSentDataSize},
    {Cmd::WriteSerial, "WriteSerial", "the new serial number", '\0', kSerialLength, A::Ack, ACK, 1},
    {Cmd::WriteImage2, "WriteImage2", "the maps sent to it", '2', kImageSize2, A::Ack, ACK, 1},
    {Cmd::WriteImage3, "WriteImage3", "the maps sent to it", '3', kImageSize3, A::Ack, ACK, 1},
    {Cmd::WriteConfig2, "WriteConfig2", "the configuration sent to it", '2', 1, A::Ack, ACK, 1},
    {Cmd::WriteConfig3, "WriteConfig3", "the configuration sent to it", '3', kConfigRowSize3,
     A::Ack, ACK, 1},
    {Cmd::WriteStartTime, "WriteStartTime", "the start time sent to it", '\0', 1, A::Ack, ACK, 1},
    {Cmd::WritePedal, "WritePedal", "the pedal response sent to it", '3', 1, A::Ack, ACK, 1},
    {Cmd::SelectProgram, "SelectProgram", "the choice of program", '\0', 1, A::Ack, ACK, 1},
    {Cmd::LiveOn2, "LiveOn2", "the switch-on of the live stream", '2', 0, A::Stream, Cmd::LiveData,
     kLiveMessageLength},
    {Cmd::LiveOn3, "LiveOn3", "the switch-on of the live stream", '3', 0, A::Stream, Cmd::LiveData,
     kLiveMessageLength},
    {Cmd::LiveOff2, "LiveOff2", "the switch-off of the live stream", '2', 0, A::None, 0, 0},
    {Cmd::LiveOff3, "LiveOff3", "the switch-off of the live stream", '3', 0, A::None, 0, 0},
};

constexpr uint8_t kDownload2[] = {Cmd::ReadSerial, Cmd::ReadImage2, Cmd::ReadProgram,
                                  Cmd::ReadConfig2, Cmd::ReadStartTime};
constexpr uint8_t kDownload3[] = {Cmd::ReadSerial,  Cmd::ReadImage3,    Cmd::ReadProgram,
                                  Cmd::ReadConfig3, Cmd::ReadStartTime, Cmd::ReadPedal,
                                  Cmd::ReadSentData};
constexpr uint8_t kSend2[] = {Cmd::WriteSerial,    Cmd::WriteImage2, Cmd::WriteConfig2,
                              Cmd::WriteStartTime, Cmd::ReadSerial,  Cmd::ReadImage2,
                              Cmd::ReadProgram,    Cmd::ReadConfig2, Cmd::ReadStartTime};
constexpr uint8_t kSend3[] = {Cmd::WriteSerial,    Cmd::WriteImage3, Cmd::WriteConfig3,
                              Cmd::WriteStartTime, Cmd::WritePedal,  Cmd::ReadSerial,
                              Cmd::ReadImage3,     Cmd::ReadProgram, Cmd::ReadConfig3,
                              Cmd::ReadStartTime,  Cmd::ReadPedal,   Cmd::ReadSentData};
constexpr uint8_t kCopy2[] = {Cmd::ReadSerial, Cmd::ReadImage2, Cmd::ReadConfig2,
                              Cmd::ReadStartTime};
constexpr uint8_t kCopy3[] = {Cmd::ReadSerial, Cmd::ReadImage3, Cmd::ReadConfig3,
                              Cmd::ReadStartTime, Cmd::ReadPedal};

}  // namespace

char EditionOf(std::string_view serial) {
    if (serial.empty()) return '\0';
    return serial[0] == '2' || serial[0] == '3' ? serial[0] : '\0';
}

char DialectOf(std::string_view serial) {
    return EditionOf(serial) == '2' ? '2' : '3';
}

std::span<const CommandRow> CommandTable() {
    return kCommands;
}

std::vector<CommandRow> CommandsOf(char edition) {
    std::vector<CommandRow> rows;
    for (const CommandRow& row : kCommands) {
        if (row.edition == '\0' || row.edition == edition) rows.push_back(row);
    }
    return rows;
}

const CommandRow* FindCommand(uint8_t code, char edition) {
    for (const CommandRow& row : kCommands) {
        if (row.code != code) continue;
        if (edition == '\0' || row.edition == '\0' || row.edition == edition) return &row;
    }
    return nullptr;
}

size_t CommandDataLength(uint8_t code) {
    const CommandRow* row = FindCommand(code);
    return row != nullptr ? row->dataLength : 0;
}

size_t AnswerLength(uint8_t answerCode) {
    if (answerCode == 0) return 0;
    for (const CommandRow& row : kCommands) {
        if (row.answer != AnswerKind::None && row.answerCode == answerCode) return row.answerLength;
    }
    return 0;
}

std::span<const uint8_t> DownloadChain(char edition) {
    if (edition == '2') return kDownload2;
    if (edition == '3') return kDownload3;
    return std::span<const uint8_t>(kDownload3, 1);
}

std::span<const uint8_t> SendChain(char edition) {
    if (edition == '2') return kSend2;
    if (edition == '3') return kSend3;
    return {};
}

std::span<const uint8_t> CopyChain(char edition) {
    if (edition == '2') return kCopy2;
    if (edition == '3') return kCopy3;
    return {};
}

size_t ChainWireBytes(std::span<const uint8_t> chain, char edition) {
    size_t bytes = 0;
    for (const uint8_t code : chain) {
        const CommandRow* row = FindCommand(code, edition);
        if (row != nullptr) bytes += 1 + row->dataLength + row->answerLength;
    }
    return bytes;
}

uint8_t NextInChain(std::span<const uint8_t> chain, uint8_t code) {
    const auto at = std::find(chain.begin(), chain.end(), code);
    if (at == chain.end() || at + 1 == chain.end()) return 0;
    return *(at + 1);
}

uint8_t LiveOnCode(char edition) {
    return edition == '2' ? Cmd::LiveOn2 : edition == '3' ? Cmd::LiveOn3 : 0;
}

uint8_t LiveOffCode(char edition) {
    return edition == '2' ? Cmd::LiveOff2 : edition == '3' ? Cmd::LiveOff3 : 0;
}

uint8_t ReadImageCode(char edition) {
    return edition == '2' ? Cmd::ReadImage2 : edition == '3' ? Cmd::ReadImage3 : 0;
}

uint8_t WriteImageCode(char edition) {
    return edition == '2' ? Cmd::WriteImage2 : edition == '3' ? Cmd::WriteImage3 : 0;
}

size_t ImageSize(char edition) {
    return edition == '2' ? kImageSize2 : edition == '3' ? kImageSize3 : 0;
}

std::vector<std::vector<uint8_t>> SplitCommands(std::span<const uint8_t> written) {
    std::vector<std::vector<uint8_t>> commands;
    size_t i = 0;
    while (i < written.size()) {
        const size_t end = std::min(written.size(), i + 1 + CommandDataLength(written[i]));
        commands.emplace_back(written.begin() + static_cast<long>(i),
                              written.begin() + static_cast<long>(end));
        i = end;
    }
    return commands;
}

std::array<uint8_t, kLiveMessageLength> EncodeLiveMessage(const LiveSample& s) {
    std::array<uint8_t, kLiveMessageLength> m{};
    m[0] = Cmd::LiveData;
    const uint16_t values[6] = {s.rpm, s.press1, s.temp1, s.press2, s.temp2, s.press3};
    for (int k = 0; k < 6; ++k) WriteWord(&m[1 + 2 * k], values[k]);
    return m;
}

LiveSample DecodeLiveMessage(const uint8_t* m, size_t length) {
    return {ReadWord(m + 1), ReadWord(m + 3),
            ReadWord(m + 5), ReadWord(m + 7),
            ReadWord(m + 9), length >= kLiveMessageLength ? ReadWord(m + 11) : uint16_t{0}};
}

std::vector<uint8_t> Response(uint8_t code, std::span<const uint8_t> payload) {
    std::vector<uint8_t> r(1 + payload.size());
    r[0] = code;
    std::copy(payload.begin(), payload.end(), r.begin() + 1);
    return r;
}
