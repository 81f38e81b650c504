#pragma once
// The conversation with the box: the user's commands, and what the tool does with the box's
// bytes (framed, presented in the controls, and the chains driven on).
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Controls.h"
#include "Framer.h"
#include "Presenter.h"
#include "Protocol.h"
#include "Variables.h"

// The serial line as the routines use it. Bytes leave in the order they are queued.
class ComPort {
  public:
    virtual ~ComPort() = default;
    virtual bool IsOpen() const = 0;
    virtual void PutChar(uint8_t byte) = 0;
    virtual void PutString(const std::string& text) = 0;
    virtual void PutBlock(const uint8_t* data, size_t count) = 0;
    // The bytes queued after this leave at least `ms` milliseconds after those before it
    // were handed to the line. It never blocks the caller.
    virtual void Pause(int ms) = 0;
};

// Sees every command written and every frame received, for the link's trace.
class LinkTrace {
  public:
    virtual ~LinkTrace() = default;
    virtual void CommandWritten(uint8_t code, size_t bytes) = 0;
    virtual void FrameReceived(const FrameEvent& frame) = 0;
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
    LinkTrace* trace = nullptr;
    // Live samples are only taken on receipt; whoever set this shows them (ShowLiveState)
    // at the screen's pace.
    bool deferLiveShow = false;
};

// The user's commands below throw LinkError (kBoxStillAnswering), writing nothing, while
// another exchange is in progress.
//
// "Download": asks for the serial report; the download chain follows by itself.
void Download(Link& link);
// "Send": writes the serial number of EditNewSerial; the send chain follows by itself.
// Throws LinkError, sending nothing, when the number does not have 8 characters or does
// not start with an edition character, or when CheckSendValues finds a bad value.
// `beforeFirstByte` runs once every check has passed; what it throws stops the send.
void SendSerialNumber(Link& link, const std::function<void()>& beforeFirstByte = {});
// The checks of "Send" without writing: an idle link, a serial number of 8 characters
// that starts with an edition character, and every value storable (CheckSendValues). Throws
// LinkError.
void CheckSend(Link& link);
// Reads the box behind the port without touching the tables: its serial number into
// vars.PortSerial, and with `copy` its maps and configuration into vars.DownloadedFile, in
// the dialect of the box's own edition. vars.ReadingEnded tells when the last answer came.
// Throws LinkError while another exchange is in progress.
void ReadBoxAside(Link& link, bool copy);
// The last download of the box as a tuning file's bytes; empty unless it brought both the
// image and the configuration.
std::vector<uint8_t> DownloadedTuningFile(const Variables& vars);
// Checks every value the send chain will write for a box of `edition` ('2' or '3'), in
// the order it writes them. At the first that the box cannot store (no whole number, or
// outside its range) it shows that cell's page, makes the cell current and throws LinkError
// naming the cell and why.
void CheckSendValues(Link& link, char edition);
// A program button: selects program n (0..9) unless the port is closed or the live stream
// runs.
void SelectProgram(Link& link, int n);
// The dyno log switch: starts or stops the live stream. Stopping is always allowed; the
// messages that were on their way are still taken, until the next command is written.
void SwitchDynoLog(Link& link);
// The image upload of the send chain: code byte, pause, then 32-byte blocks.
void WriteImage(Link& link);
// Whether "Download", "Send" and the dyno log switch can be used: all three while the port is
// open, "Download" and "Send" not while the live stream runs nor while a send waits for the
// box to take its maps. The one rule for them; ShowLinkButtons writes it to the controls.
struct LinkButtons {
    bool download;
    bool send;
    bool dynoLog;
};
LinkButtons LinkButtonsFor(const Variables& vars, bool open);
void ShowLinkButtons(FormControls& form, const Variables& vars, bool open);
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
// While the awaited answer arrives, each piece moves `vars.AnswerDue` to the wire time of
// the rest plus the margin. When it is due and the answer has not come whole: the chain
// stops, the receive buffer starts afresh, "Download" and "Send" are usable, and the
// message says what the box did not answer. Empty while nothing is overdue (or during the
// live stream, which has no deadline).
std::string AnswerOverdue(
    Link& link, std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());
// A command of the send chain that writes to the box.
bool IsSendWrite(uint8_t code);
// The message for an answer that did not come during a send (`overdue`, as AnswerOverdue
// gave it, for the command `asked`): after a write, what the box took, what it may or may
// not have stored and what was not sent, and the backup to restore it from; after the last
// write, that the send is not verified.
std::string SendOverdueText(const std::string& overdue, const Variables& vars, uint8_t asked,
                            const std::string& backup);
// The message for a command whose answer did not come within `deadline`.
std::string NoAnswerText(uint8_t code, std::chrono::microseconds deadline);
// What a refused command says.
constexpr const char* kBoxStillAnswering =
    "The box is still answering the last command; try again when it has finished.";
constexpr const char* kSerialEditionRequired =
    "The serial number must start with 2 or 3 (the box's edition).";

// True while the answer awaited is a short one that follows its command within a few
// milliseconds (not an image, and not the live stream).
bool ShortAnswerAwaited(const Variables& vars);

// The receive path: frames the bytes (Framer.h), shows each frame (Presenter.h) and writes
// the chain's next command (ChainDriver.h). Bytes that cannot start the awaited response
// are dropped, so that RxPos never leaves the buffer and a response after garbage is still
// recognised.
void ReceiveBytes(Link& link, const uint8_t* data, size_t count);
// The line has been quiet for a while during the live stream: a 2-channel box's live message
// that waited for the next byte is taken (LiveMessageWaiting, QuietLineFrame in Framer.h).
// Throws ConversionError as ReceiveBytes does for a live message.
void LiveLineQuiet(Link& link);
