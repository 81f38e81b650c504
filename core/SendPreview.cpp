#include "SendPreview.h"

#include <memory>

#include "Conversions.h"
#include "Link.h"
#include "MemoryForm.h"
#include "StoredValues.h"
#include "TableLayout.h"
#include "TuningFile.h"

namespace {

constexpr const char* kArrow = " \u2192 ";

std::string PedalName(int index) {
    return index >= 0 && index < static_cast<int>(kPedalResponses.size()) ? kPedalResponses[index]
                                                                          : std::to_string(index);
}

// A value as the box stores it: a whole number's plain text, else the text as it stands.
std::string Stored(const std::string& text) {
    int32_t value = 0;
    return TryStrToInt(text, value) ? std::to_string(value) : text;
}

}  // namespace

std::vector<std::string> SendPreview(FormControls& form, const Variables& vars) {
    std::vector<std::string> lines;
    const std::string serial = form.ControlByName(Ctl::EditNewSerial).Caption();
    const char edition = EditionOf(serial);
    if (vars.DownloadedSerial != serial)
        lines.push_back("Serial number: " + vars.DownloadedSerial + kArrow + serial);

    // The box's copy decoded as a file would be, into tables of its own.
    const auto box = std::make_unique<MemoryForm>();
    const auto boxVars = std::make_unique<Variables>();
    const std::vector<uint8_t> copy = DownloadedTuningFile(vars);
    DecodeTuningFile(*box, *boxVars, copy);
    const char boxEdition = copy.size() == kTuningFileSize3 ? '3' : '2';
    const auto compare = [&](const std::string& where, const std::string& was,
                             const std::string& now) {
        if (Stored(was) != Stored(now))
            lines.push_back(where + ": " + Stored(was) + kArrow + Stored(now));
    };
    const int tables = edition == '3' ? 4 : 2;
    for (int program = 1; program <= 9; ++program) {
        for (int t = 0; t < tables; ++t) {
            const auto table = static_cast<ProgramTable>(t);
            TextGrid& ours = form.ProgramGrid(program, table);
            TextGrid& theirs = box->ProgramGrid(program, table);
            // A 2-channel box holds no CH3 and no fuel row: it gets them new.
            const bool held = t < 2 || boxEdition == '3';
            for (int row = 0; row < ours.RowCount(); ++row) {
                for (int col = 1; col < ours.ColCount(); ++col) {
                    compare(ProgramCellName(program, table, ours, col, row),
                            held ? theirs.Cell(col, row) : "none", ours.Cell(col, row));
                }
            }
        }
    }
    TextGrid& config = form.GridByName(Grid::StrGridConfig);
    TextGrid& boxConfig = box->GridByName(Grid::StrGridConfig);
    for (int col = 0; col < ConfigCells(edition); ++col) {
        const bool held = col < ConfigCells(boxEdition);
        compare("Service Configuration column " + std::to_string(col + 1),
                held ? boxConfig.Cell(col, 0) : "none", config.Cell(col, 0));
    }
    const std::string startTime = form.ControlByName(Ctl::NumBoxStartTime).Caption();
    if (!startTime.empty()) {
        compare(
            "Start time",
            vars.DownloadedStartTime >= 0 ? std::to_string(vars.DownloadedStartTime) : "unknown",
            startTime);
    }
    if (edition == '3') {
        const std::string pedal = PedalName(form.ControlByName(Ctl::ComboBoxPedalRes).ItemIndex());
        const std::string was =
            vars.DownloadedPedal >= 0 ? PedalName(vars.DownloadedPedal) : "unknown";
        if (was != pedal) lines.push_back("Pedal response: " + was + kArrow + pedal);
    }
    return lines;
}
