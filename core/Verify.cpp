#include "Verify.h"

#include <algorithm>

#include "Conversions.h"
#include "TableLayout.h"

namespace {

constexpr size_t kReportLines = 30;
constexpr size_t kRowBytes = 32;

const std::vector<uint8_t>* SentFor(const Variables& vars, uint8_t code) {
    const auto found = vars.Sent.find(code);
    return found != vars.Sent.end() ? &found->second : nullptr;
}

std::string Difference(const std::string& what, int64_t sent, int64_t box) {
    return what + ": sent " + std::to_string(sent) + ", box has " + std::to_string(box);
}

// Image byte `offset` belongs to value (col, row) of a program table: blocks of P1..P9, each
// CH1's four rows, CH2's, then (3 channels) CH3's and the FUEL% row, 16 values a row.
void CompareImage(FormControls& form, Variables& vars, const std::vector<uint8_t>& sent,
                  char edition) {
    const uint8_t* box = vars.RxBuffer.data() + 1;
    const size_t block = edition == '3' ? kProgramBlock3 : kProgramBlock2;
    const size_t size = std::min(sent.size(), ImageSize(edition));
    for (size_t offset = 0; offset + 1 < size; offset += 2) {
        const auto sentValue = static_cast<int16_t>(ReadWord(&sent[offset]));
        const auto boxValue = static_cast<int16_t>(ReadWord(box + offset));
        if (sentValue == boxValue) continue;
        const int program = static_cast<int>(offset / block) + 1;
        const size_t rowIndex = (offset % block) / kRowBytes;
        const int table = static_cast<int>(rowIndex / 4);
        const int row = static_cast<int>(rowIndex % 4);
        const int col = static_cast<int>((offset % kRowBytes) / 2) + 1;
        TextGrid& grid = form.ProgramGrid(program, static_cast<ProgramTable>(table));
        vars.Differences.push_back(
            Difference(ProgramCellName(program, static_cast<ProgramTable>(table), grid, col, row),
                       sentValue, boxValue));
        grid.MarkCell(
            col, row,
            "Sent " + std::to_string(sentValue) + ", box has " + std::to_string(boxValue));
        if (vars.FirstDifferentCell.program < 0)
            vars.FirstDifferentCell = {program, table, col, row};
    }
}

void CompareConfig(FormControls& form, Variables& vars, const std::vector<uint8_t>& sent,
                   bool three) {
    const uint8_t* box = vars.RxBuffer.data() + 1;
    TextGrid& grid = form.GridByName(Grid::StrGridConfig);
    const size_t values = three ? kConfigRowSize3 / 2 : 1;
    for (size_t k = 0; k < values && (three ? 2 * k + 1 : k) < sent.size(); ++k) {
        const int64_t sentValue = three ? ReadWord(&sent[2 * k]) : sent[0];
        const int64_t boxValue = three ? ReadWord(box + 2 * k) : box[0];
        if (sentValue == boxValue) continue;
        const int col = static_cast<int>(k);
        vars.Differences.push_back(
            Difference("Configuration column " + std::to_string(col + 1), sentValue, boxValue));
        grid.MarkCell(
            col, 0, "Sent " + std::to_string(sentValue) + ", box has " + std::to_string(boxValue));
        if (vars.FirstDifferentCell.program < 0) vars.FirstDifferentCell = {0, 0, col, 0};
    }
}

void CompareByte(Variables& vars, const std::vector<uint8_t>& sent, const char* what) {
    const uint8_t box = vars.RxBuffer[1];
    if (!sent.empty() && sent[0] != box) vars.Differences.push_back(Difference(what, sent[0], box));
}

}  // namespace

void VerifyFrame(FormControls& form, Variables& vars, const FrameEvent& frame) {
    const char edition = vars.Edition();
    const std::vector<uint8_t>* sent = nullptr;
    switch (frame.kind) {
        case FrameKind::SerialReport:
            if ((sent = SentFor(vars, Cmd::WriteSerial)) != nullptr) {
                const std::string written(sent->begin(), sent->end());
                if (written != vars.BoxSerial)
                    vars.Differences.push_back("Serial number: sent " + written + ", box has " +
                                               vars.BoxSerial);
            }
            break;
        case FrameKind::Image:
            if ((sent = SentFor(vars, WriteImageCode(edition))) != nullptr)
                CompareImage(form, vars, *sent, edition);
            break;
        case FrameKind::Configuration: {
            const bool three = frame.code == Cmd::ReadConfig3;
            if ((sent = SentFor(vars, three ? Cmd::WriteConfig3 : Cmd::WriteConfig2)) != nullptr)
                CompareConfig(form, vars, *sent, three);
            break;
        }
        case FrameKind::StartTime:
            if ((sent = SentFor(vars, Cmd::WriteStartTime)) != nullptr)
                CompareByte(vars, *sent, "Start time");
            break;
        case FrameKind::PedalResponse:
            if ((sent = SentFor(vars, Cmd::WritePedal)) != nullptr)
                CompareByte(vars, *sent, "Pedal response");
            break;
        default:
            break;
    }
}

std::string VerifyReport(const std::vector<std::string>& differences) {
    std::string report;
    for (size_t k = 0; k < differences.size() && k < kReportLines; ++k) {
        if (!report.empty()) report += '\n';
        report += differences[k];
    }
    if (differences.size() > kReportLines)
        report += "\n... and " + std::to_string(differences.size() - kReportLines) + " more";
    return report;
}
