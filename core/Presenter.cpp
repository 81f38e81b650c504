#include "Presenter.h"

#include <cstring>

#include "BoxImage.h"
#include "Charts.h"
#include "Conversions.h"
#include "DynoLog.h"
#include "Link.h"
#include "SentData.h"
#include "TableLayout.h"

namespace {

Control& C(FormControls& form, Ctl control) {
    return form.ControlByName(control);
}

void PresentLiveSample(FormControls& form, Variables& vars, const LiveSample& s) {
    TakeLiveSample(form, vars, s);
    ShowLiveState(form, vars);
}

void PresentAck(FormControls& form, Variables& vars, uint8_t answered) {
    switch (answered) {
        case Cmd::WriteImage2:
        case Cmd::WriteImage3:
            // Only an open port answers.
            vars.UploadPending = false;
            ShowLinkButtons(form, vars, true);
            break;
        case Cmd::SelectProgram:
            MarkActiveProgram(form, vars, vars.ActiveProgram);
            break;
        default:
            break;
    }
}

}  // namespace

void TakeLiveSample(FormControls& form, Variables& vars, const LiveSample& s) {
    vars.LiveRpm = s.rpm;
    vars.LivePress1 = s.press1;
    vars.LiveTemp1 = s.temp1;
    vars.LivePress2 = s.press2;
    vars.LiveTemp2 = s.temp2;
    vars.LivePress3 = s.press3;
    ++vars.LiveMessages;
    vars.LiveShowDue = true;
    FileDynoLogSample(form, vars, s.rpm, s.press1, s.press2, s.press3);
}

void ShowLiveState(FormControls& form, Variables& vars) {
    vars.LiveShowDue = false;
    C(form, Ctl::LabelRPM).SetCaption("RPM: " + WordToText(vars.LiveRpm));
    C(form, Ctl::LabelPress1)
        .SetCaption("CH1: " + WordToText(vars.LivePress1) + " - " + WordToText(vars.LiveTemp1) +
                    "\xC2\xB0"
                    "C");
    C(form, Ctl::LabelPress2)
        .SetCaption("CH2: " + WordToText(vars.LivePress2) + " - " + WordToText(vars.LiveTemp2) +
                    "\xC2\xB0"
                    "C");
    if (vars.Edition() == '3')
        C(form, Ctl::LabelPress3).SetCaption("CH3: " + WordToText(vars.LivePress3));
    ShowCheckedDynoLog(form, vars);
    TrackLiveRpm(form, vars.LiveRpm);
}

void PresentSerialReport(FormControls& form, Variables& vars) {
    const char* chars = reinterpret_cast<const char*>(vars.RxBuffer.data() + 1);
    // The number is zero-terminated within its 8 characters.
    vars.BoxSerial.assign(chars, strnlen(chars, kSerialLength));
    C(form, Ctl::LabelSerial).SetCaption("BOX serial: " + vars.BoxSerial);
    ApplyEditionLayout(form, vars.Edition());
    C(form, Ctl::EditNewSerial).SetCaption(vars.BoxSerial);
    C(form, Ctl::LabelSerial).SetCaption(SerialLabelText(vars.BoxSerial));
}

void PresentFrame(FormControls& form, Variables& vars, const FrameEvent& frame) {
    const RxBufferT& rx = vars.RxBuffer;
    switch (frame.kind) {
        case FrameKind::SerialReport:
            PresentSerialReport(form, vars);
            break;
        case FrameKind::Image: {
            uint16_t cursor = 0;
            if (frame.code == Cmd::ReadImage3) {
                DecodeImage3(form, rx, cursor);
            } else {
                DecodeImage2(form, rx, cursor);
            }
            uint16_t logCursor = 0;
            LabelDynoLogTable(form, rx, logCursor);
            break;
        }
        case FrameKind::RunningProgram:
            MarkActiveProgram(form, vars, rx[1]);
            break;
        case FrameKind::Configuration:
            if (frame.code == Cmd::ReadConfig3) {
                uint16_t cursor = 0;
                DecodeConfigRow(rx, form.GridByName(Grid::StrGridConfig), cursor);
            } else {
                form.GridByName(Grid::StrGridConfig).SetCell(0, 0, IntToText(rx[1]));
            }
            break;
        case FrameKind::StartTime:
            C(form, Ctl::NumBoxStartTime).SetCaption(IntToText(rx[1]));
            break;
        case FrameKind::PedalResponse:
            C(form, Ctl::ComboBoxPedalRes).SetItemIndex(rx[1]);
            break;
        case FrameKind::SentBlock:
            DecodeSentData(form, rx);
            break;
        case FrameKind::Ack:
            PresentAck(form, vars, frame.answers);
            break;
        case FrameKind::LiveSample:
            PresentLiveSample(form, vars, frame.live);
            break;
        case FrameKind::Skipped:
            break;
    }
}

std::string SerialLabelText(const std::string& serial) {
    std::string text = "BOX serial: " + serial;
    const char edition = EditionOf(serial);
    if (edition == '2') text += " (Corvane)";
    if (edition == '3') text += " (Stellix)";
    return text;
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

void ReplayLiveRecords(FormControls& form, Variables& vars, std::span<const LiveRecord> records) {
    const uint8_t running = vars.ActiveProgram;
    try {
        for (const LiveRecord& record : records) {
            vars.ActiveProgram = static_cast<uint8_t>(record.program);
            TakeLiveSample(form, vars, record.sample);
        }
    } catch (...) {
        vars.ActiveProgram = running;
        throw;
    }
    vars.ActiveProgram = running;
    if (!records.empty()) ShowLiveState(form, vars);
}
