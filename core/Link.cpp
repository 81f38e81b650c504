#include "Link.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "BoxImage.h"
#include "Charts.h"
#include "Conversions.h"
#include "DynoLog.h"
#include "SentData.h"
#include "TableLayout.h"

namespace {

using Clock = std::chrono::steady_clock;

// The length of the answer that starts with `awaiting`, its code byte included.
size_t AnswerLength(uint8_t awaiting) {
    switch (awaiting) {
        case Cmd::ReadSerial:
            return kSerialReportSize;
        case Cmd::ReadImage2:
            return kImageResponseSize2;
        case Cmd::ReadImage3:
            return kImageResponseSize3;
        case Cmd::ReadProgram:
            return kProgramResponseSize;
        case Cmd::ReadConfig2:
            return kConfigResponseSize2;
        case Cmd::ReadConfig3:
            return kConfigResponseSize3;
        case Cmd::ReadStartTime:
        case Cmd::ReadPedal:
            return kByteResponseSize;
        case Cmd::ReadSentData:
            return kSentResponseSize;
        case ACK:
            return 1;
        default:
            return 0;
    }
}

// Notes what the command just written (`commandBytes` long, code included) waits for.
void Await(Variables& vars, uint8_t awaiting, size_t commandBytes) {
    vars.Awaiting = awaiting;
    if (awaiting != 0) {
        vars.AnswerDue =
            Clock::now() + WireTime(commandBytes + AnswerLength(awaiting)) + kAnswerMargin;
    }
}

void RequireIdleLink(const Variables& vars) {
    if (ExchangeInProgress(vars)) throw LinkError(kBoxStillAnswering);
}

void Write(Link& link, uint8_t code, uint8_t awaiting) {
    link.port.PutChar(code);
    Await(link.vars, awaiting, 1);
}

void WriteWithByte(Link& link, uint8_t code, uint8_t data) {
    link.port.PutChar(code);
    link.port.PutChar(data);
    link.vars.LastCommand = code;
    Await(link.vars, ACK, 2);
}

Control& C(Link& link, Ctl control) {
    return link.form.ControlByName(control);
}

uint16_t WordAt(const RxBufferT& rx, size_t index) {
    return static_cast<uint16_t>((rx[index] << 8) | rx[index + 1]);
}

bool Acceptable(const Variables& vars, uint8_t byte) {
    return (vars.Awaiting != 0 && byte == vars.Awaiting) ||
           (vars.DynoLogging != 0 && byte == Cmd::LiveData);
}

// Drops the bytes in front of the first one that can start the awaited response.
void DropUnacceptableFront(Variables& vars) {
    uint16_t start = 0;
    while (start < vars.RxPos && !Acceptable(vars, vars.RxBuffer[start])) ++start;
    if (start == 0) return;
    std::memmove(vars.RxBuffer.data(), vars.RxBuffer.data() + start, vars.RxPos - start);
    vars.RxPos = static_cast<uint16_t>(vars.RxPos - start);
}

void HandleSerialReport(Link& link) {
    Variables& vars = link.vars;
    const char* chars = reinterpret_cast<const char*>(vars.RxBuffer.data() + 1);
    // The number is zero-terminated within its 8 characters.
    vars.BoxSerial.assign(chars, strnlen(chars, 8));
    C(link, Ctl::LabelSerial).SetCaption("BOX serial: " + vars.BoxSerial);
    ApplyEditionLayout(link.form, vars.Edition());
    C(link, Ctl::EditNewSerial).SetCaption(vars.BoxSerial);
    C(link, Ctl::LabelSerial).SetCaption(SerialLabelText(vars.BoxSerial));
    if (vars.Edition() == '2') {
        Write(link, Cmd::ReadImage2, Cmd::ReadImage2);
    } else if (vars.Edition() == '3') {
        Write(link, Cmd::ReadImage3, Cmd::ReadImage3);
    } else {
        vars.Awaiting = 0;
    }
    vars.RxPos = 0;
}

void HandleImage(Link& link, bool three) {
    uint16_t cursor = 0;
    if (three) {
        DecodeImage3(link.form, link.vars.RxBuffer, cursor);
    } else {
        DecodeImage2(link.form, link.vars.RxBuffer, cursor);
    }
    uint16_t logCursor = 0;
    LabelDynoLogTable(link.form, link.vars.RxBuffer, logCursor);
    Write(link, Cmd::ReadProgram, Cmd::ReadProgram);
    link.vars.RxPos = 0;
}

void HandleAck(Link& link) {
    Variables& vars = link.vars;
    const char edition = vars.Edition();
    switch (vars.LastCommand) {
        case Cmd::WriteSerial:
            vars.RxPos = 0;
            vars.Awaiting = 0;
            if (edition == '2' || edition == '3') WriteImage(link);
            break;
        case Cmd::WriteImage2:
        case Cmd::WriteImage3: {
            C(link, Ctl::ButtonDownload).SetEnabled(true);
            C(link, Ctl::ButtonSend).SetEnabled(true);
            vars.RxPos = 0;
            vars.Awaiting = 0;
            if (edition == '2') {
                const int32_t value =
                    StrToInt(link.form.GridByName(Grid::StrGridConfig).Cell(0, 0));
                WriteWithByte(link, Cmd::WriteConfig2, static_cast<uint8_t>(value & 0xFF));
            } else if (edition == '3') {
                std::array<uint8_t, kConfigRowSize3> row{};
                uint16_t cursor = 0;
                EncodeConfigRow(link.form.GridByName(Grid::StrGridConfig), row, cursor);
                link.port.PutChar(Cmd::WriteConfig3);
                link.port.PutBlock(row.data(), row.size());
                vars.LastCommand = Cmd::WriteConfig3;
                Await(vars, ACK, 1 + row.size());
            }
            break;
        }
        case Cmd::WriteConfig2:
        case Cmd::WriteConfig3: {
            const std::string text = C(link, Ctl::NumBoxStartTime).Caption();
            if (text.empty()) {
                vars.Awaiting = 0;
                break;
            }
            const int32_t minutes = StrToInt(text);
            WriteWithByte(link, Cmd::WriteStartTime, static_cast<uint8_t>(minutes & 0xFF));
            vars.RxPos = 0;
            break;
        }
        case Cmd::WriteStartTime:
            vars.RxPos = 0;
            if (edition == '2') {
                Write(link, Cmd::ReadSerial, Cmd::ReadSerial);
            } else if (edition == '3') {
                const int index = C(link, Ctl::ComboBoxPedalRes).ItemIndex();
                WriteWithByte(link, Cmd::WritePedal, static_cast<uint8_t>(index & 0xFF));
            } else {
                vars.Awaiting = 0;
            }
            break;
        case Cmd::WritePedal:
            vars.RxPos = 0;
            Write(link, Cmd::ReadSerial, Cmd::ReadSerial);
            break;
        case Cmd::SelectProgram:
            vars.Awaiting = 0;
            MarkActiveProgram(link.form, vars, vars.ActiveProgram);
            break;
        default:
            break;
    }
}

// Handles the response in the buffer once it is complete (live messages excepted).
void DispatchOne(Link& link) {
    Variables& vars = link.vars;
    const RxBufferT& rx = vars.RxBuffer;
    const char edition = vars.Edition();
    const uint16_t pos = vars.RxPos;
    // A response is complete at its length; an ACK only when it is the only byte.
    const size_t length = AnswerLength(rx[0]);
    if (pos == 0 || length == 0 || pos < length || (rx[0] == ACK && pos != 1)) return;
    switch (rx[0]) {
        case Cmd::ReadSerial:
            HandleSerialReport(link);
            break;
        case Cmd::ReadImage2:
            HandleImage(link, false);
            break;
        case Cmd::ReadImage3:
            HandleImage(link, true);
            break;
        case Cmd::ReadProgram: {
            const uint8_t running = rx[1];
            // The next command goes out first: redrawing the charts of the running
            // program's page can fail on a cell the user typed, and that must not stop the
            // chain.
            if (edition == '2') {
                Write(link, Cmd::ReadConfig2, Cmd::ReadConfig2);
            } else if (edition == '3') {
                Write(link, Cmd::ReadConfig3, Cmd::ReadConfig3);
            } else {
                vars.Awaiting = 0;
            }
            vars.RxPos = 0;
            MarkActiveProgram(link.form, vars, running);
            break;
        }
        case Cmd::ReadConfig2:
            link.form.GridByName(Grid::StrGridConfig).SetCell(0, 0, IntToText(rx[1]));
            Write(link, Cmd::ReadStartTime, Cmd::ReadStartTime);
            vars.RxPos = 0;
            break;
        case Cmd::ReadConfig3: {
            uint16_t cursor = 0;
            DecodeConfigRow(rx, link.form.GridByName(Grid::StrGridConfig), cursor);
            Write(link, Cmd::ReadStartTime, Cmd::ReadStartTime);
            vars.RxPos = 0;
            break;
        }
        case Cmd::ReadStartTime:
            C(link, Ctl::NumBoxStartTime).SetCaption(IntToText(rx[1]));
            if (edition == '3') {
                Write(link, Cmd::ReadPedal, Cmd::ReadPedal);
            } else {
                vars.Awaiting = 0;
            }
            vars.RxPos = 0;
            break;
        case Cmd::ReadPedal:
            C(link, Ctl::ComboBoxPedalRes).SetItemIndex(rx[1]);
            Write(link, Cmd::ReadSentData, Cmd::ReadSentData);
            vars.RxPos = 0;
            break;
        case Cmd::ReadSentData:
            // Whatever follows before the next command is not for this response.
            vars.Awaiting = 0;
            DecodeSentData(link.form, rx);
            break;
        case ACK:
            HandleAck(link);
            break;
        default:
            break;
    }
}

void HandleLiveMessage(Link& link) {
    Variables& vars = link.vars;
    const RxBufferT& rx = vars.RxBuffer;
    vars.LiveRpm = WordAt(rx, 1);
    vars.LivePress1 = WordAt(rx, 3);
    vars.LiveTemp1 = WordAt(rx, 5);
    vars.LivePress2 = WordAt(rx, 7);
    vars.LiveTemp2 = WordAt(rx, 9);
    vars.LivePress3 = WordAt(rx, 11);
    ++vars.LiveMessages;
    // The message is consumed before anything below can fail on a table cell.
    std::memmove(vars.RxBuffer.data(), vars.RxBuffer.data() + kLiveMessageLength,
                 vars.RxPos - kLiveMessageLength);
    vars.RxPos = static_cast<uint16_t>(vars.RxPos - kLiveMessageLength);

    C(link, Ctl::LabelRPM).SetCaption("RPM: " + WordToText(vars.LiveRpm));
    C(link, Ctl::LabelPress1)
        .SetCaption("CH1: " + WordToText(vars.LivePress1) + " - " + WordToText(vars.LiveTemp1) +
                    "\xC2\xB0"
                    "C");
    C(link, Ctl::LabelPress2)
        .SetCaption("CH2: " + WordToText(vars.LivePress2) + " - " + WordToText(vars.LiveTemp2) +
                    "\xC2\xB0"
                    "C");
    if (vars.Edition() == '3')
        C(link, Ctl::LabelPress3).SetCaption("CH3: " + WordToText(vars.LivePress3));
    RecordDynoLogSample(link.form, vars, vars.LiveRpm, vars.LivePress1, vars.LivePress2,
                        vars.LivePress3);
    TrackLiveRpm(link.form, vars.LiveRpm);
}

}  // namespace

std::string SerialLabelText(const std::string& serial) {
    std::string text = "BOX serial: " + serial;
    const char edition = serial.empty() ? '\0' : serial[0];
    if (edition == '2') text += " (Corvane)";
    if (edition == '3') text += " (Stellix)";
    return text;
}

std::chrono::microseconds WireTime(size_t bytes) {
    return std::chrono::microseconds(static_cast<int64_t>(bytes) * 10 * 1000000 / 115200);
}

bool ExchangeInProgress(const Variables& vars, std::chrono::steady_clock::time_point now) {
    return vars.Awaiting != 0 && vars.DynoLogging == 0 && now < vars.AnswerDue;
}

void ResetExchange(Variables& vars) {
    vars.Awaiting = 0;
    vars.RxPos = 0;
}

bool ShortAnswerAwaited(const Variables& vars) {
    switch (vars.Awaiting) {
        case Cmd::ReadSerial:
        case Cmd::ReadProgram:
        case Cmd::ReadConfig2:
        case Cmd::ReadConfig3:
        case Cmd::ReadStartTime:
        case Cmd::ReadPedal:
        case Cmd::ReadSentData:
            return true;
        case ACK:
            // The image upload's ACK comes only after the whole image has crossed the line.
            return vars.LastCommand != Cmd::WriteImage2 && vars.LastCommand != Cmd::WriteImage3;
        default:
            return false;
    }
}

void Download(Link& link) {
    RequireIdleLink(link.vars);
    Write(link, Cmd::ReadSerial, Cmd::ReadSerial);
    link.vars.RxPos = 0;
}

void SendSerialNumber(Link& link) {
    RequireIdleLink(link.vars);
    const std::string serial = C(link, Ctl::EditNewSerial).Caption();
    const bool ascii = std::all_of(serial.begin(), serial.end(), [](char ch) {
        return static_cast<unsigned char>(ch) >= 0x20 && static_cast<unsigned char>(ch) < 0x7F;
    });
    if (serial.size() != 8 || !ascii) {
        throw LinkError(
            "The serial number needs 8 characters (letters and digits); nothing was sent.");
    }
    // The first character chooses the dialect of every later step: with another one the
    // box would take the number and the chain would stop right after it.
    if (serial[0] != '2' && serial[0] != '3') throw LinkError(kSerialEditionRequired);
    C(link, Ctl::ButtonDownload).SetEnabled(false);
    C(link, Ctl::ButtonSend).SetEnabled(false);
    link.vars.BoxSerial = serial;
    link.vars.LastCommand = Cmd::WriteSerial;
    link.port.PutChar(Cmd::WriteSerial);
    link.port.PutString(serial);
    Await(link.vars, ACK, 1 + serial.size());
    link.vars.RxPos = 0;
}

void SelectProgram(Link& link, int n) {
    if (!link.port.IsOpen() || link.vars.DynoLogging != 0) return;
    RequireIdleLink(link.vars);
    link.vars.ActiveProgram = static_cast<uint8_t>(n);
    WriteWithByte(link, Cmd::SelectProgram, static_cast<uint8_t>(n));
    link.vars.RxPos = 0;
}

void SwitchDynoLog(Link& link) {
    Variables& vars = link.vars;
    if (vars.DynoLogging == 0) RequireIdleLink(vars);
    vars.DynoLogging = vars.DynoLogging == 0 ? 1 : 0;
    vars.LiveErrorShown = false;
    const char edition = vars.Edition();
    if (vars.DynoLogging == 1) {
        C(link, Ctl::ButtonDynoLog).SetCaption("Dyno log OFF");
        C(link, Ctl::Shape2).SetColor(clLime);
        C(link, Ctl::ButtonDownload).SetEnabled(false);
        C(link, Ctl::ButtonSend).SetEnabled(false);
        if (edition == '2') Write(link, Cmd::LiveOn2, Cmd::LiveData);
        if (edition == '3') Write(link, Cmd::LiveOn3, Cmd::LiveData);
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
        C(link, Ctl::ButtonDownload).SetEnabled(true);
        C(link, Ctl::ButtonSend).SetEnabled(true);
        if (edition == '2') Write(link, Cmd::LiveOff2, 0);
        if (edition == '3') Write(link, Cmd::LiveOff3, 0);
    }
    vars.RxPos = 0;
}

void WriteImage(Link& link) {
    const bool three = link.vars.Edition() == '3';
    std::array<uint8_t, kRxBufferSize> image{};
    uint16_t cursor = 0;
    if (three) {
        EncodeImage3(link.form, image, cursor);
    } else {
        EncodeImage2(link.form, image, cursor);
    }
    const uint8_t code = three ? Cmd::WriteImage3 : Cmd::WriteImage2;
    const size_t size = three ? kImageSize3 : kImageSize2;
    link.vars.LastCommand = code;
    Write(link, code, ACK);
    link.port.Pause(1);
    for (size_t offset = 0; offset < size; offset += kUploadBlock) {
        link.port.PutBlock(image.data() + offset, kUploadBlock);
        link.port.Pause(1);
    }
    // The box answers once the whole image has crossed the line. (A connection lost during
    // the upload has cleared what was awaited.)
    if (link.vars.Awaiting == ACK) Await(link.vars, ACK, 1 + size);
}

void MarkActiveProgram(FormControls& form, Variables& vars, uint8_t n) {
    for (int k = 0; k <= 9; ++k) form.ControlByName(ProgramButton(k)).SetColor(0x000000);
    vars.ActiveProgram = n;
    if (n > 9) return;
    form.ControlByName(ProgramButton(n)).SetColor(clBlue);
    const int shown = form.PageIndex();
    if (n > 0 && shown != 0 && shown != n) {
        form.SetPageIndex(n);
        // The charts show the curves of the page in view.
        RefreshCharts(form);
    }
}

void SelectTrackedColumn(TextGrid& g1, TextGrid& g2, TextGrid& g3, TextGrid& g4, int col) {
    for (TextGrid* grid : {&g1, &g2, &g3, &g4}) {
        grid->SetRow(0);
        grid->SetCol(col);
    }
}

void TrackLiveRpm(FormControls& form, uint16_t rpm) {
    TextGrid& points = form.ProgramGrid(1, ProgramTable::CH1);
    for (int c = 16; c >= 1; --c) {
        if (rpm < StrToInt(points.Cell(c, 0))) continue;
        const int page = form.PageIndex();
        if (page >= 1 && page <= 9) {
            SelectTrackedColumn(form.ProgramGrid(page, ProgramTable::CH1),
                                form.ProgramGrid(page, ProgramTable::CH2),
                                form.ProgramGrid(page, ProgramTable::CH3),
                                form.ProgramGrid(page, ProgramTable::Fuel), c);
        }
        TextGrid& log = form.GridByName(Grid::StrGridDynoLog);
        log.SetRow(0);
        log.SetCol(c);
        return;
    }
}

void ReceiveBytes(Link& link, const uint8_t* data, size_t count) {
    Variables& vars = link.vars;
    std::exception_ptr liveError;
    for (;;) {
        // Nothing asked for and no stream: whatever comes is no answer, and it must not
        // disturb the last response, which stays in the buffer until the next command.
        if (vars.Awaiting == 0 && vars.DynoLogging == 0) break;
        // Append what fits; bytes that cannot start the awaited response are skipped.
        while (count > 0 && vars.RxPos < kRxBufferSize) {
            if (vars.RxPos == 0 && !Acceptable(vars, *data)) {
                ++data;
                --count;
                continue;
            }
            vars.RxBuffer[vars.RxPos++] = *data++;
            --count;
        }
        if (vars.RxPos > 0 && vars.RxBuffer[0] == Cmd::LiveData) {
            // Every complete live message is handled, in order; the bytes behind it start
            // the next one.
            while (vars.RxPos >= kLiveMessageLength && vars.RxBuffer[0] == Cmd::LiveData) {
                if (vars.RxPos > kLiveMessageLength &&
                    vars.RxBuffer[kLiveMessageLength] != Cmd::LiveData) {
                    // What follows is no message start, so this one is out of step: move on
                    // to the next possible start.
                    vars.RxBuffer[0] = 0;
                } else {
                    try {
                        HandleLiveMessage(link);
                        vars.LiveErrorShown = false;
                    } catch (const ConversionError&) {
                        if (!liveError) liveError = std::current_exception();
                    }
                }
                DropUnacceptableFront(vars);
            }
        } else {
            DispatchOne(link);
        }
        // A full buffer that completes nothing holds no response: start afresh.
        if (vars.RxPos == kRxBufferSize) vars.RxPos = 0;
        if (count == 0) break;
    }
    if (liveError && !vars.LiveErrorShown) {
        vars.LiveErrorShown = true;
        std::rethrow_exception(liveError);
    }
}
