#pragma once
// The box's serial protocol, written down once: the command codes of both editions, the
// bytes that follow each code, what the box answers, the download and send chains as step
// lists, the live message and the rule that gives a serial number's edition. The tool, the
// box simulator, the fuzz harness and the tests all read it.
//
// A command is a code byte and its data, big-endian, with no framing. A read command is
// answered by a response that starts with the same code; a write command or a program
// selection by the one-byte ACK. While the live stream is on the box sends live messages
// unasked.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Cmd {
constexpr uint8_t ReadSerial = 0x1E;
constexpr uint8_t ReadImage2 = 0x02;
constexpr uint8_t ReadImage3 = 0x66;
constexpr uint8_t ReadProgram = 0x1F;
constexpr uint8_t ReadConfig2 = 0x20;
constexpr uint8_t ReadConfig3 = 0x84;
constexpr uint8_t ReadStartTime = 0x21;
constexpr uint8_t ReadPedal = 0x22;
constexpr uint8_t ReadSentData = 0x23;
constexpr uint8_t WriteSerial = 0x28;
constexpr uint8_t WriteImage2 = 0x01;
constexpr uint8_t WriteImage3 = 0x65;
constexpr uint8_t WriteConfig2 = 0x2A;
constexpr uint8_t WriteConfig3 = 0x8E;
constexpr uint8_t WriteStartTime = 0x2B;
constexpr uint8_t WritePedal = 0x2C;
constexpr uint8_t SelectProgram = 0x29;
constexpr uint8_t LiveOn2 = 0x15;
constexpr uint8_t LiveOn3 = 0x79;
constexpr uint8_t LiveOff2 = 0x14;
constexpr uint8_t LiveOff3 = 0x78;
constexpr uint8_t LiveData = 0x15;  // the code of every live message
}  // namespace Cmd

// The one-byte answer to a write command or a program selection.
constexpr uint8_t ACK = 0x05;

constexpr size_t kSerialLength = 8;
constexpr uint16_t kProgramBlock3 = 416;
constexpr uint16_t kProgramBlock2 = 256;
constexpr uint16_t kImageSize3 = 9 * kProgramBlock3;  // 3744
constexpr uint16_t kImageSize2 = 9 * kProgramBlock2;  // 2304
constexpr uint16_t kConfigRowSize3 = 32;
// SENT slow-channel records: 64 per channel (CH1, then CH2), each an identifier byte
// (0 = empty) and a 16-bit value.
constexpr size_t kSentRecordsPerChannel = 64;
constexpr size_t kSentDataSize = 2 * kSentRecordsPerChannel * 3;  // 384
constexpr uint16_t kLiveMessageLength = 13;
// A 2-channel box has no CH3 and may leave its word out: its live messages are then 11 bytes.
constexpr uint16_t kLiveMessageLength2 = 11;
// The image upload goes out in blocks of this many bytes, after a pause behind its code.
constexpr int kUploadBlock = 32;
constexpr int kUploadPauseMs = 1;

// The edition of a box: its number of SENT channels. The first character of the serial
// number tells it.
enum class Edition : char { None = '\0', Two = '2', Three = '3' };

// '2' or '3' for a serial number of that edition, '\0' for any other (or none).
char EditionOf(std::string_view serial);
// The dialect a box speaks: a 2-channel box when its number says so, otherwise the
// 3-channel box's.
char DialectOf(std::string_view serial);

// What the box answers to a command.
enum class AnswerKind : uint8_t {
    None,      // nothing
    Response,  // a response of `answerLength` bytes that starts with the command's code
    Ack,       // the one-byte ACK
    Stream,    // live messages until the stream is switched off
};

struct CommandRow {
    uint8_t code;
    const char* name;
    // For the messages: what the tool asked, as in "did not answer <what>".
    const char* what;
    char edition;  // '2', '3', or '\0' for both
    uint16_t dataLength;
    AnswerKind answer;
    // The code the answer starts with (ACK for an ACK), 0 for none.
    uint8_t answerCode;
    // The answer's length, code byte included (1 for an ACK, 13 for one live message).
    uint16_t answerLength;
};

// Every command of both editions, one row each.
std::span<const CommandRow> CommandTable();
// The rows of one edition ('2' or '3'): its own commands and the shared ones.
std::vector<CommandRow> CommandsOf(char edition);
// The row of `code` in `edition`'s dialect; nullptr for a code that edition does not have.
// With edition '\0' the row of either edition (the code alone decides, except 0x15, which
// is then the 2-channel live switch).
const CommandRow* FindCommand(uint8_t code, char edition = '\0');
// Bytes that follow `code`; 0 for a code no edition has.
size_t CommandDataLength(uint8_t code);
// The length of the answer that starts with `code` (a response code, ACK, or the live
// message's code), code included; 0 for a byte that starts no answer.
size_t AnswerLength(uint8_t answerCode);

// The chains as the codes they write, in order. The download chain starts with the serial
// number's request; its later steps depend on the edition the box reports. The send chain
// writes the serial number, the image, the configuration and the start time (and pedal
// response) and then downloads everything again.
std::span<const uint8_t> DownloadChain(char edition);
std::span<const uint8_t> SendChain(char edition);
// The reads of what a send overwrites (serial number, image, configuration, start time and
// pedal response): the copy of a box kept aside from the tables before a send writes it.
std::span<const uint8_t> CopyChain(char edition);
// The bytes a whole chain of `edition` moves on the line: each command with its data and
// each answer.
size_t ChainWireBytes(std::span<const uint8_t> chain, char edition);
// The step after `code` in the chain that holds it, 0 at its end or for a code in none.
uint8_t NextInChain(std::span<const uint8_t> chain, uint8_t code);
uint8_t LiveOnCode(char edition);
uint8_t LiveOffCode(char edition);
uint8_t ReadImageCode(char edition);
uint8_t WriteImageCode(char edition);
size_t ImageSize(char edition);

// A written byte run cut into its commands (code and data); a command left half written
// at the end is kept as it is.
std::vector<std::vector<uint8_t>> SplitCommands(std::span<const uint8_t> written);

// Big-endian words, as every value crosses the line.
inline uint16_t ReadWord(const uint8_t* at) {
    return static_cast<uint16_t>((at[0] << 8) | at[1]);
}
inline void WriteWord(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value & 0xFF);
}

// One live message: code, then RPM, CH1 reading, CH1 temperature, CH2 reading, CH2
// temperature, CH3 reading, each unsigned 16-bit. A 3-channel box sends all 13 bytes; a
// 2-channel box sends either all 13 (what it puts in the CH3 word means nothing) or the
// first 11.
struct LiveSample {
    uint16_t rpm = 0;
    uint16_t press1 = 0;
    uint16_t temp1 = 0;  // degrees Celsius
    uint16_t press2 = 0;
    uint16_t temp2 = 0;
    uint16_t press3 = 0;

    bool operator==(const LiveSample&) const = default;
};
std::array<uint8_t, kLiveMessageLength> EncodeLiveMessage(const LiveSample& sample);
// Reads the bytes behind the code of a live message of `length` bytes (13 or 11); an
// 11-byte message gives CH3 0.
LiveSample DecodeLiveMessage(const uint8_t* message, size_t length = kLiveMessageLength);

// A response: the code, then the payload.
std::vector<uint8_t> Response(uint8_t code, std::span<const uint8_t> payload);
