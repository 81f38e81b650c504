#include "Link.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "BoxImage.h"
#include "ChainDriver.h"
#include "Conversions.h"
#include "DynoLog.h"
#include "StoredValues.h"
#include "TableLayout.h"
#include "Verify.h"

namespace {

using Clock = std::chrono::steady_clock;

Control& C(Link& link, Ctl control) {
    return link.form.ControlByName(control);
}

// Notes what the command `code` just written (`commandBytes` long, code included) waits
// for, and until when.
void Await(Variables& vars, uint8_t code, size_t commandBytes) {
    const CommandRow* row = FindCommand(code, vars.LinkEdition());
    const uint8_t awaiting = row != nullptr ? row->answerCode : 0;
    vars.Awaiting = awaiting;
    vars.AskedCommand = code;
    if (row != nullptr && row->answer == AnswerKind::Ack) vars.LastCommand = code;
    if (awaiting != 0) {
        vars.AnswerDue =
            Clock::now() + WireTime(commandBytes + AnswerLength(awaiting)) + kAnswerMargin;
    }
}

void RequireIdleLink(const Variables& vars) {
    if (ExchangeInProgress(vars)) throw LinkError(kBoxStillAnswering);
}

// Writes one command and notes its answer. The image upload goes out in blocks behind a
// pause after its code, and its answer is due once the whole image has crossed the line.
void WriteCommand(Link& link, uint8_t code, const std::vector<uint8_t>& data) {
    // Once another command is on its way, a late live message could be taken for its answer.
    link.vars.LiveDraining = false;
    link.port.PutChar(code);
    const bool upload = code == Cmd::WriteImage2 || code == Cmd::WriteImage3;
    if (!upload) {
        if (!data.empty()) link.port.PutBlock(data.data(), data.size());
    } else {
        link.port.Pause(kUploadPauseMs);
        for (size_t offset = 0; offset < data.size(); offset += kUploadBlock) {
            link.port.PutBlock(data.data() + offset,
                               std::min<size_t>(kUploadBlock, data.size() - offset));
            link.port.Pause(kUploadPauseMs);
        }
    }
    Await(link.vars, code, 1 + data.size());
    // A send keeps what it wrote, for the comparison with its read-back.
    if (link.vars.Verifying && link.vars.Awaiting == ACK && code != Cmd::SelectProgram)
        link.vars.Sent[code] = data;
    if (link.trace != nullptr) link.trace->CommandWritten(code, 1 + data.size());
}

std::vector<uint8_t> EncodedImage(Link& link) {
    const char edition = link.vars.Edition();
    std::vector<uint8_t> image(ImageSize(edition));
    uint16_t cursor = 0;
    if (edition == '3') {
        EncodeImage3(link.form, image, cursor);
    } else {
        EncodeImage2(link.form, image, cursor);
    }
    return image;
}

// The data of a chain's write command, read from the controls; nothing when the chain
// stops before it (an empty start time). A cell that is no number throws ConversionError.
std::optional<std::vector<uint8_t>> ChainCommandData(Link& link, uint8_t code) {
    switch (code) {
        case Cmd::WriteImage2:
        case Cmd::WriteImage3:
            return EncodedImage(link);
        case Cmd::WriteConfig2: {
            const int32_t value = StrToInt(link.form.GridByName(Grid::StrGridConfig).Cell(0, 0));
            return std::vector<uint8_t>{static_cast<uint8_t>(value & 0xFF)};
        }
        case Cmd::WriteConfig3: {
            std::vector<uint8_t> row(kConfigRowSize3);
            uint16_t cursor = 0;
            EncodeConfigRow(link.form.GridByName(Grid::StrGridConfig), row, cursor);
            return row;
        }
        case Cmd::WriteStartTime: {
            const std::string text = C(link, Ctl::NumBoxStartTime).Caption();
            if (text.empty()) return std::nullopt;
            return std::vector<uint8_t>{static_cast<uint8_t>(StrToInt(text) & 0xFF)};
        }
        case Cmd::WritePedal:
            return std::vector<uint8_t>{
                static_cast<uint8_t>(C(link, Ctl::ComboBoxPedalRes).ItemIndex() & 0xFF)};
        default:
            return std::vector<uint8_t>{};
    }
}

// The chain's next command after `frame`, if the chain goes on.
void DriveChain(Link& link, const FrameEvent& frame) {
    const uint8_t next = NextStep(frame, link.vars);
    if (next == 0) return;
    const std::optional<std::vector<uint8_t>> data = ChainCommandData(link, next);
    if (data) WriteCommand(link, next, *data);
}

// A whole response or ACK: the exchange is over. The chain's next command goes out before
// the tables are filled, so the box answers while the tool works; the serial report comes
// first, since its edition decides the next step. What the presentation throws does not
// stop the chain, and what the chain throws does not stop the presentation.
// Keeps what a download brings as a tuning file's bytes, for the backup before a send.
void NoteDownload(Variables& vars, const FrameEvent& frame) {
    const uint8_t* payload = vars.RxBuffer.data() + 1;
    switch (frame.kind) {
        case FrameKind::SerialReport:
            vars.DownloadedSerial = vars.PortSerial;
            vars.DownloadedFile.clear();
            vars.DownloadedStartTime = vars.DownloadedPedal = -1;
            break;
        case FrameKind::StartTime:
            vars.DownloadedStartTime = payload[0];
            break;
        case FrameKind::PedalResponse:
            vars.DownloadedPedal = payload[0];
            break;
        case FrameKind::Image:
            vars.DownloadedFile.assign(payload, payload + frame.size - 1);
            break;
        case FrameKind::Configuration:
            if (vars.DownloadedFile.size() == ImageSize(vars.LinkEdition()))
                vars.DownloadedFile.insert(vars.DownloadedFile.end(), payload,
                                           payload + frame.size - 1);
            break;
        default:
            break;
    }
}

// The serial number of the serial report in the receive buffer.
std::string ReportedSerial(const Variables& vars) {
    const char* chars = reinterpret_cast<const char*>(vars.RxBuffer.data() + 1);
    // The number is zero-terminated within its 8 characters.
    return std::string(chars, strnlen(chars, kSerialLength));
}

// An answer of a side read: kept aside, the tables untouched; after the serial number the
// copy goes on with the reads of the box's own edition for what a send writes: its maps,
// configuration, start time and (3 channels) pedal response.
void HandleSideAnswer(Link& link, const FrameEvent& frame) {
    Variables& vars = link.vars;
    vars.Awaiting = 0;
    vars.RxPos = 0;
    if (frame.kind == FrameKind::SerialReport) vars.PortSerial = ReportedSerial(vars);
    NoteDownload(vars, frame);
    const char edition = EditionOf(vars.PortSerial);
    if (vars.Reading == Variables::SideRead::Copy) {
        const uint8_t next = NextInChain(CopyChain(edition), vars.AskedCommand);
        if (next != 0) return WriteCommand(link, next, {});
    }
    vars.ReadingEnded = vars.Reading;
    vars.Reading = Variables::SideRead::None;
}

void HandleAnswer(Link& link, FrameEvent frame) {
    Variables& vars = link.vars;
    if (vars.Reading != Variables::SideRead::None && frame.kind != FrameKind::Ack)
        return HandleSideAnswer(link, frame);
    if (frame.kind == FrameKind::Ack) frame.answers = vars.LastCommand;
    vars.Awaiting = 0;
    vars.RxPos = 0;
    if (frame.kind == FrameKind::SerialReport) {
        PresentSerialReport(link.form, vars);
        vars.PortSerial = vars.BoxSerial;
        vars.TablesSerial = vars.BoxSerial;
    }
    NoteDownload(vars, frame);
    std::exception_ptr chainError;
    try {
        DriveChain(link, frame);
    } catch (const ConversionError&) {
        chainError = std::current_exception();
    }
    std::exception_ptr presentError;
    try {
        if (frame.kind != FrameKind::SerialReport) PresentFrame(link.form, vars, frame);
    } catch (const ConversionError&) {
        presentError = std::current_exception();
    }
    if (vars.Verifying) {
        // After the tables are filled: the marks of differing cells go on top.
        VerifyFrame(link.form, vars, frame);
        if (vars.Awaiting == 0) {
            // The chain has ended: after its read-back a verdict, after a write it stopped.
            if (frame.kind != FrameKind::Ack) {
                vars.VerifyOutcome = vars.Differences.empty() ? Variables::Verification::Verified
                                                              : Variables::Verification::Failed;
            }
            vars.Verifying = false;
        }
    }
    if (chainError) std::rethrow_exception(chainError);
    if (presentError) std::rethrow_exception(presentError);
}

// Every sample is taken, in order; a table cell that is no number is said once, not once
// per message.
void TakeLiveFrame(Link& link, const FrameEvent& frame, std::exception_ptr& liveError) {
    try {
        if (link.deferLiveShow) {
            TakeLiveSample(link.form, link.vars, frame.live);
        } else {
            PresentFrame(link.form, link.vars, frame);
        }
        link.vars.LiveErrorShown = false;
    } catch (const ConversionError&) {
        if (!liveError) liveError = std::current_exception();
    }
}

void RethrowLiveError(Variables& vars, const std::exception_ptr& liveError) {
    if (liveError && !vars.LiveErrorShown) {
        vars.LiveErrorShown = true;
        std::rethrow_exception(liveError);
    }
}

std::string Seconds(std::chrono::microseconds time) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(time.count()) / 1e6);
    return text;
}

}  // namespace

std::chrono::microseconds WireTime(size_t bytes) {
    return std::chrono::microseconds(static_cast<int64_t>(bytes) * 10 * 1000000 / 115200);
}

bool ExchangeInProgress(const Variables& vars, std::chrono::steady_clock::time_point now) {
    return vars.Awaiting != 0 && vars.DynoLogging == 0 && now < vars.AnswerDue;
}

LinkButtons LinkButtonsFor(const Variables& vars, bool open) {
    const bool free = open && vars.DynoLogging == 0 && !vars.UploadPending;
    return {free, free, open};
}

void ShowLinkButtons(FormControls& form, const Variables& vars, bool open) {
    const LinkButtons buttons = LinkButtonsFor(vars, open);
    form.ControlByName(Ctl::ButtonDownload).SetEnabled(buttons.download);
    form.ControlByName(Ctl::ButtonSend).SetEnabled(buttons.send);
    form.ControlByName(Ctl::ButtonDynoLog).SetEnabled(buttons.dynoLog);
}

void ResetExchange(Variables& vars) {
    vars.UploadPending = false;
    vars.Reading = Variables::SideRead::None;
    vars.Awaiting = 0;
    vars.RxPos = 0;
    vars.Verifying = false;
    vars.LiveDraining = false;
    vars.LiveLength = 0;
}

std::string NoAnswerText(uint8_t code, std::chrono::microseconds deadline) {
    const CommandRow* row = FindCommand(code);
    const std::string what = row != nullptr ? row->what : "the last command";
    return "The box did not answer " + what + " within " + Seconds(deadline) +
           " s. Check that the right port is chosen and that the box is powered.";
}

std::string AnswerOverdue(Link& link, std::chrono::steady_clock::time_point now) {
    Variables& vars = link.vars;
    if (vars.Awaiting == 0 || vars.DynoLogging != 0 || now < vars.AnswerDue) return {};
    const uint8_t code = vars.AskedCommand;
    const CommandRow* row = FindCommand(code, vars.LinkEdition());
    const size_t bytes = row != nullptr ? 1 + row->dataLength + row->answerLength : 1;
    const bool upload = code == Cmd::WriteImage2 || code == Cmd::WriteImage3;
    // The upload's ACK is due from the end of the upload.
    const auto deadline = (upload ? WireTime(1) : WireTime(bytes)) + kAnswerMargin;
    ResetExchange(vars);
    ShowLinkButtons(link.form, vars, link.port.IsOpen());
    return NoAnswerText(code, std::chrono::duration_cast<std::chrono::microseconds>(deadline));
}

bool IsSendWrite(uint8_t code) {
    switch (code) {
        case Cmd::WriteSerial:
        case Cmd::WriteImage2:
        case Cmd::WriteImage3:
        case Cmd::WriteConfig2:
        case Cmd::WriteConfig3:
        case Cmd::WriteStartTime:
        case Cmd::WritePedal:
            return true;
        default:
            return false;
    }
}

namespace {

const char* SentItemName(uint8_t code) {
    switch (code) {
        case Cmd::WriteSerial:
            return "the serial number";
        case Cmd::WriteImage2:
        case Cmd::WriteImage3:
            return "the maps";
        case Cmd::WriteConfig2:
        case Cmd::WriteConfig3:
            return "the configuration";
        case Cmd::WriteStartTime:
            return "the start time";
        default:
            return "the pedal response";
    }
}

std::string ItemList(const std::vector<uint8_t>& codes) {
    std::string list;
    for (size_t k = 0; k < codes.size(); ++k) {
        if (k > 0) list += k + 1 == codes.size() ? " and " : ", ";
        list += SentItemName(codes[k]);
    }
    return list;
}

}  // namespace

std::string SendOverdueText(const std::string& overdue, const Variables& vars, uint8_t asked,
                            const std::string& backup) {
    // The base message blames the port; during a send the box may already hold part of it.
    const std::string said = overdue.substr(0, overdue.find(". ") + 1);
    if (!IsSendWrite(asked)) {
        return said +
               " The box took every value of the send, but its read-back did not come, so the "
               "send is not verified. Download to check what the box holds.";
    }
    std::vector<uint8_t> taken;
    std::vector<uint8_t> notSent;
    bool reached = false;
    for (const uint8_t code : SendChain(vars.Edition())) {
        if (!IsSendWrite(code)) continue;
        if (code == asked) {
            reached = true;
        } else if (!reached) {
            taken.push_back(code);
        } else {
            notSent.push_back(code);
        }
    }
    std::string text = said + " The box may be half-written: ";
    if (!taken.empty()) text += "it took " + ItemList(taken) + "; ";
    text += SentItemName(asked) + std::string(" may or may not have been stored");
    if (!notSent.empty())
        text += "; " + ItemList(notSent) + (notSent.size() == 1 ? " was" : " were") + " not sent";
    text += ".";
    if (!backup.empty()) {
        text += " What it held before the send is in the backup \"" + backup +
                "\": open that file and send it to restore the box, or send again.";
    } else {
        text += " Send again to complete it.";
    }
    return text;
}

bool ShortAnswerAwaited(const Variables& vars) {
    switch (vars.Awaiting) {
        case 0:
        case Cmd::LiveData:
            return false;
        case ACK:
            // The image upload's ACK comes only after the whole image has crossed the line.
            return vars.LastCommand != Cmd::WriteImage2 && vars.LastCommand != Cmd::WriteImage3;
        default:
            // Every response but the image follows its command within a few milliseconds.
            return vars.Awaiting != Cmd::ReadImage2 && vars.Awaiting != Cmd::ReadImage3;
    }
}

void Download(Link& link) {
    RequireIdleLink(link.vars);
    WriteCommand(link, Cmd::ReadSerial, {});
    link.vars.RxPos = 0;
}

void CheckSendValues(Link& link, char edition) {
    if (const std::optional<UnstorableValue> bad = FindUnstorableValue(link.form, edition))
        throw LinkError(ShowUnstorable(link.form, *bad, "Nothing was sent."));
}

std::vector<uint8_t> DownloadedTuningFile(const Variables& vars) {
    const size_t size = vars.DownloadedFile.size();
    if (size != ImageSize('2') + 1 && size != ImageSize('3') + kConfigRowSize3) return {};
    return vars.DownloadedFile;
}

void ReadBoxAside(Link& link, bool copy) {
    RequireIdleLink(link.vars);
    link.vars.Reading = copy ? Variables::SideRead::Copy : Variables::SideRead::Identity;
    link.vars.ReadingEnded = Variables::SideRead::None;
    link.vars.PortSerial.clear();
    WriteCommand(link, Cmd::ReadSerial, {});
    link.vars.RxPos = 0;
}

void CheckSend(Link& link) {
    RequireIdleLink(link.vars);
    const std::string serial = C(link, Ctl::EditNewSerial).Caption();
    const bool ascii = std::all_of(serial.begin(), serial.end(), [](char ch) {
        return static_cast<unsigned char>(ch) >= 0x20 && static_cast<unsigned char>(ch) < 0x7F;
    });
    if (serial.size() != kSerialLength || !ascii) {
        throw LinkError(
            "The serial number needs 8 characters (letters and digits); nothing was sent.");
    }
    // The first character chooses the dialect of every later step: with another one the
    // box would take the number and the chain would stop right after it.
    if (EditionOf(serial) == '\0') throw LinkError(kSerialEditionRequired);
    CheckSendValues(link, EditionOf(serial));
}

void SendSerialNumber(Link& link, const std::function<void()>& beforeFirstByte) {
    CheckSend(link);
    const std::string serial = C(link, Ctl::EditNewSerial).Caption();
    if (beforeFirstByte) beforeFirstByte();
    link.vars.Verifying = true;
    link.vars.Sent.clear();
    link.vars.Differences.clear();
    link.vars.FirstDifferentCell = {};
    link.vars.VerifyOutcome = Variables::Verification::None;
    link.vars.UploadPending = true;
    ShowLinkButtons(link.form, link.vars, link.port.IsOpen());
    link.vars.BoxSerial = serial;
    WriteCommand(link, Cmd::WriteSerial, std::vector<uint8_t>(serial.begin(), serial.end()));
    link.vars.RxPos = 0;
}

void SelectProgram(Link& link, int n) {
    if (!link.port.IsOpen() || link.vars.DynoLogging != 0) return;
    RequireIdleLink(link.vars);
    link.vars.ActiveProgram = static_cast<uint8_t>(n);
    WriteCommand(link, Cmd::SelectProgram, {static_cast<uint8_t>(n)});
    link.vars.RxPos = 0;
}

void SwitchDynoLog(Link& link) {
    Variables& vars = link.vars;
    if (vars.DynoLogging == 0) RequireIdleLink(vars);
    vars.DynoLogging = vars.DynoLogging == 0 ? 1 : 0;
    vars.LiveErrorShown = false;
    const char edition = vars.Edition();
    if (vars.DynoLogging == 1) {
        // A stream's message length is learned from its own bytes.
        vars.LiveLength = 0;
        C(link, Ctl::ButtonDynoLog).SetCaption("Dyno log OFF");
        C(link, Ctl::Shape2).SetColor(clLime);
        ShowLinkButtons(link.form, vars, link.port.IsOpen());
        if (edition != '\0') WriteCommand(link, LiveOnCode(edition), {});
        // The two view buttons form one group: checking one unchecks the other.
        const bool p0 = vars.ActiveProgram == 0;
        C(link, p0 ? Ctl::RadioButtP0 : Ctl::RadioButtP1toP9).SetChecked(true);
        C(link, p0 ? Ctl::RadioButtP1toP9 : Ctl::RadioButtP0).SetChecked(false);
        if (!p0) C(link, Ctl::RadioButtP1toP9).SetCaption("P=" + IntToText(vars.ActiveProgram));
        // The table shows the checked button's record, as after a click on it.
        ShowCheckedDynoLog(link.form, vars);
    } else {
        C(link, Ctl::ButtonDynoLog).SetCaption("Dyno log ON");
        C(link, Ctl::Shape2).SetColor(clRed);
        ShowLinkButtons(link.form, vars, link.port.IsOpen());
        if (edition != '\0') WriteCommand(link, LiveOffCode(edition), {});
        // A message half received is finished; those the box sent before the switch-off
        // reached it follow.
        vars.LiveDraining = edition != '\0';
        if (vars.LiveDraining && vars.RxPos > 0 && vars.RxBuffer[0] == Cmd::LiveData) return;
    }
    vars.RxPos = 0;
}

void WriteImage(Link& link) {
    const char edition = link.vars.Edition() == '3' ? '3' : '2';
    WriteCommand(link, WriteImageCode(edition), EncodedImage(link));
}

void ReceiveBytes(Link& link, const uint8_t* data, size_t count) {
    Variables& vars = link.vars;
    std::span<const uint8_t> input(data, count);
    std::exception_ptr liveError;
    std::exception_ptr answerError;
    while (const std::optional<FrameEvent> frame = NextFrame(vars, input)) {
        if (link.trace != nullptr) link.trace->FrameReceived(*frame);
        switch (frame->kind) {
            case FrameKind::Skipped:
                break;
            case FrameKind::LiveSample:
                TakeLiveFrame(link, *frame, liveError);
                break;
            default:
                try {
                    HandleAnswer(link, *frame);
                } catch (const ConversionError&) {
                    if (!answerError) answerError = std::current_exception();
                }
                break;
        }
    }
    // An answer that is arriving is not overdue: a box or an adapter may deliver it in slow
    // pieces. Its deadline moves to the wire time of what is still missing, plus the margin.
    if (vars.Awaiting != 0 && vars.RxPos > 0 && vars.RxBuffer[0] == vars.Awaiting) {
        const size_t missing =
            AnswerLength(vars.Awaiting) - std::min<size_t>(vars.RxPos, AnswerLength(vars.Awaiting));
        vars.AnswerDue = std::max(vars.AnswerDue, Clock::now() + WireTime(missing) + kAnswerMargin);
    }
    if (answerError) std::rethrow_exception(answerError);
    RethrowLiveError(vars, liveError);
}

void LiveLineQuiet(Link& link) {
    const std::optional<FrameEvent> frame = QuietLineFrame(link.vars);
    if (!frame) return;
    if (link.trace != nullptr) link.trace->FrameReceived(*frame);
    std::exception_ptr liveError;
    TakeLiveFrame(link, *frame, liveError);
    RethrowLiveError(link.vars, liveError);
}
