#pragma once
// The conversation with the box: the commands the tool writes, and the assembly and
// dispatch of what the box answers, including the download and send chains.
//
// A command is a code byte and its data, big-endian, with no framing. A read command is
// answered by a response starting with the same code; a write command or a program
// selection by the one-byte ACK (0x05). While the live stream is on the box sends live
// messages (code 0x15) unasked.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "Controls.h"
#include "Variables.h"

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

// Response lengths, code byte included.
constexpr uint16_t kSerialReportSize = 9;
constexpr uint16_t kImageResponseSize2 = 2305;
constexpr uint16_t kImageResponseSize3 = 3745;
constexpr uint16_t kProgramResponseSize = 3;
constexpr uint16_t kConfigResponseSize2 = 2;
constexpr uint16_t kConfigResponseSize3 = 33;
constexpr uint16_t kByteResponseSize = 2;
constexpr uint16_t kSentResponseSize = 385;
constexpr uint16_t kLiveMessageLength = 13;
constexpr int kUploadBlock = 32;

// The serial line as the routines use it. Bytes leave in the order they are queued.
class ComPort {
  public:
    virtual ~ComPort() = default;
    virtual bool IsOpen() const = 0;
    virtual void PutChar(uint8_t byte) = 0;
    virtual void PutString(const std::string& text) = 0;
    virtual void PutBlock(const uint8_t* data, size_t count) = 0;
    // Waits `ms` milliseconds after what was queued so far has been handed to the line.
    virtual void Pause(int ms) = 0;
};

// A user command that cannot be carried out as asked; the message says why.
class LinkError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Link {
    FormControls& form;
    Variables& vars;
    ComPort& port;
};

// The user's commands below throw LinkError (kBoxStillAnswering), writing nothing, while
// another exchange is in progress.
//
// "Download": asks for the serial report; the download chain follows by itself.
void Download(Link& link);
// "Send": writes the serial number of EditNewSerial; the send chain follows by itself.
// Throws LinkError, sending nothing, when the number does not have 8 characters or does
// not start with an edition character.
void SendSerialNumber(Link& link);
// A program button: selects program n (0..9) unless the port is closed or the live stream
// runs.
void SelectProgram(Link& link, int n);
// The dyno log switch: starts or stops the live stream. Stopping is always allowed.
void SwitchDynoLog(Link& link);
// The image upload of the send chain: code byte, pause, then 32-byte blocks.
void WriteImage(Link& link);
// Colours the button of the running program and shows its page, with its curves.
void MarkActiveProgram(FormControls& form, Variables& vars, uint8_t n);
// Points the tables at the live RPM: the last column of P1's CH1 RPM row that the RPM has
// reached becomes current in the shown program's tables and in the dyno log.
void TrackLiveRpm(FormControls& form, uint16_t rpm);
void SelectTrackedColumn(TextGrid& g1, TextGrid& g2, TextGrid& g3, TextGrid& g4, int col);
// "BOX serial: " and the number, with the edition's name when the edition is known.
std::string SerialLabelText(const std::string& serial);

// The box's margin on top of the wire time before an awaited answer counts as overdue.
constexpr std::chrono::milliseconds kAnswerMargin{500};
// The time `bytes` take on the line at 115200 baud, 10 bits a byte.
std::chrono::microseconds WireTime(size_t bytes);

// True while a command waits for its answer and the answer is not yet overdue. Only one
// exchange runs at a time: a second command would be taken for the first one's answer.
// The live stream is no exchange.
bool ExchangeInProgress(const Variables& vars, std::chrono::steady_clock::time_point now =
                                                   std::chrono::steady_clock::now());
// Forgets the exchange in progress: nothing is awaited and the receive buffer starts
// afresh. For a connection opened, closed or lost.
void ResetExchange(Variables& vars);
// What a refused command says.
constexpr const char* kBoxStillAnswering =
    "The box is still answering the last command; try again when it has finished.";
constexpr const char* kSerialEditionRequired =
    "The serial number must start with 2 or 3 (the box's edition).";

// True while the answer awaited is a short one that follows its command within a few
// milliseconds (not an image, and not the live stream).
bool ShortAnswerAwaited(const Variables& vars);

// Appends received bytes to RxBuffer and handles what they complete. Bytes that cannot
// start the awaited response are dropped, so that RxPos never leaves the buffer and a
// response after garbage is still recognised.
void ReceiveBytes(Link& link, const uint8_t* data, size_t count);
