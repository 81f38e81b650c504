#include "Harness.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "BoxImage.h"
#include "Conversions.h"
#include "DynoLog.h"
#include "Link.h"
#include "MemoryForm.h"
#include "Seeds.h"
#include "StartUp.h"
#include "TableLayout.h"
#include "TuningFile.h"

namespace {

using PT = ProgramTable;

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

// A code the tool may wait for: nothing, an answer's first byte, or a live message's.
bool AwaitableCode(uint8_t code) {
    return code == 0 || AnswerLength(code) > 0;
}

// A line that never answers. It follows the written bytes command by command, so that a
// byte that starts no command, or a command left half written, shows.
class CheckingPort : public ComPort {
  public:
    bool IsOpen() const override { return true; }
    void PutChar(uint8_t byte) override { Take(&byte, 1); }
    void PutString(const std::string& text) override {
        Take(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    void PutBlock(const uint8_t* data, size_t count) override { Take(data, count); }
    void Pause(int) override {}

    bool Midway() const { return remaining_ > 0; }

    std::vector<uint8_t> codes;
    std::string fault;

  private:
    void Take(const uint8_t* data, size_t count) {
        while (count > 0 && fault.empty()) {
            if (remaining_ > 0) {
                const size_t skip = std::min(count, remaining_);
                data += skip;
                count -= skip;
                remaining_ -= skip;
                continue;
            }
            if (FindCommand(*data) == nullptr) {
                fault = "the tool wrote " + Hex(*data) + " where a command code belongs";
                return;
            }
            codes.push_back(*data);
            remaining_ = CommandDataLength(*data);
            ++data;
            --count;
        }
    }

    size_t remaining_ = 0;
};

bool ExpectedError(const std::exception& error) {
    return dynamic_cast<const ConversionError*>(&error) != nullptr ||
           dynamic_cast<const LinkError*>(&error) != nullptr ||
           dynamic_cast<const FileError*>(&error) != nullptr;
}

// Runs `action`; an expected error is the user's message and counts as done, anything else
// thrown is returned as a fault.
template <typename Action>
std::string Attempt(Action action) {
    try {
        action();
    } catch (const std::exception& error) {
        if (!ExpectedError(error)) return std::string("unexpected exception: ") + error.what();
    } catch (...) {
        return "unexpected exception of no standard type";
    }
    return {};
}

bool IntegerIn(const std::string& text, int32_t low, int32_t high) {
    int32_t value = 0;
    return TryStrToInt(text, value) && value >= low && value <= high;
}

std::string GridName(int program, int table) {
    static const char* const kTables[] = {"CH1", "CH2", "CH3", "FUEL"};
    return "P" + std::to_string(program) + " " + kTables[table];
}

// Built only when it fails: the checks run after every chunk.
std::string CheckShape(const TextGrid& grid, int cols, int rows, const char* name) {
    if (grid.ColCount() != cols || grid.RowCount() != rows) {
        return std::string(name) + " is " + std::to_string(grid.ColCount()) + "x" +
               std::to_string(grid.RowCount()) + " instead of " + std::to_string(cols) + "x" +
               std::to_string(rows);
    }
    if (grid.Col() < 0 || grid.Col() >= cols || grid.Row() < 0 || grid.Row() >= rows)
        return std::string(name) + "'s current cell lies outside it";
    return {};
}

// A grid that notes being written to, so that only written grids need their cells checked.
class WatchedGrid : public TextGrid {
  public:
    explicit WatchedGrid(TextGrid& grid) : grid_(grid) {}
    int ColCount() const override { return grid_.ColCount(); }
    int RowCount() const override { return grid_.RowCount(); }
    std::string Cell(int col, int row) const override { return grid_.Cell(col, row); }
    void SetCell(int col, int row, const std::string& text) override {
        written = true;
        grid_.SetCell(col, row, text);
    }
    int Col() const override { return grid_.Col(); }
    int Row() const override { return grid_.Row(); }
    void SetCol(int col) override {
        moved = true;
        grid_.SetCol(col);
    }
    void SetRow(int row) override {
        moved = true;
        grid_.SetRow(row);
    }
    bool Enabled() const override { return grid_.Enabled(); }
    void SetEnabled(bool enabled) override { grid_.SetEnabled(enabled); }
    TColor Color() const override { return grid_.Color(); }
    void SetColor(TColor color) override { grid_.SetColor(color); }
    int ColWidth(int col) const override { return grid_.ColWidth(col); }
    void SetColWidth(int col, int width) override { grid_.SetColWidth(col, width); }
    bool Focused() const override { return grid_.Focused(); }

    // Nothing is known about a grid until it has been checked once.
    bool written = true;
    bool moved = true;

  private:
    TextGrid& grid_;
};

// The in-memory window with every grid watched.
class WatchedForm : public FormControls {
  public:
    WatchedForm() {
        for (int n = 1; n <= 9; ++n) {
            for (int t = 0; t < 4; ++t)
                programs_.push_back(
                    std::make_unique<WatchedGrid>(memory_.Program(n, static_cast<PT>(t))));
        }
        for (Grid grid : {Grid::StrGridConfig, Grid::StrGridConfNam, Grid::StrGridSDnames,
                          Grid::StrGridSDdata, Grid::StrGridDynoLog}) {
            named_[grid] = std::make_unique<WatchedGrid>(memory_.GridByName(grid));
        }
    }
    TextGrid& ProgramGrid(int program, ProgramTable table) override {
        return Program(program, table);
    }
    TextGrid& GridByName(Grid grid) override { return *named_.at(grid); }
    Control& ControlByName(Ctl control) override { return memory_.ControlByName(control); }
    ChartSeries& Series(int chart) override { return memory_.Series(chart); }
    int PageIndex() const override { return memory_.PageIndex(); }
    void SetPageIndex(int index) override { memory_.SetPageIndex(index); }

    WatchedGrid& Program(int program, ProgramTable table) {
        if (program < 1 || program > 9) throw std::out_of_range("program number");
        return *programs_[static_cast<size_t>((program - 1) * 4 + static_cast<int>(table))];
    }
    WatchedGrid& Named(Grid grid) { return *named_.at(grid); }

  private:
    MemoryForm memory_;
    std::vector<std::unique_ptr<WatchedGrid>> programs_;
    std::map<Grid, std::unique_ptr<WatchedGrid>> named_;
};

// A program table keeps its shape and row labels, and every value cell holds a 16-bit
// number (except a cell the fixture itself spoiled).
std::string CheckProgramGrid(const TextGrid& grid, int n, int t, bool cells,
                             const std::string& spoiled) {
    static const char* const kRowNames[4] = {"RPM_", "CORR_", "PRESS_", "MULTI%_"};
    const int rows = t == static_cast<int>(PT::Fuel) ? 1 : 4;
    std::string fault = CheckShape(grid, 17, rows, "a program table");
    if (!fault.empty()) return GridName(n, t) + ": " + fault;
    if (!cells) return {};
    const std::string name = GridName(n, t);
    for (int row = 0; row < rows; ++row) {
        const std::string label =
            t == static_cast<int>(PT::Fuel) ? "FUEL%" : kRowNames[row] + std::to_string(t + 1);
        if (grid.Cell(0, row) != label)
            return name + " row " + std::to_string(row) + " lost its label";
        for (int col = 1; col <= 16; ++col) {
            const std::string text = grid.Cell(col, row);
            if (!IntegerIn(text, -32768, 32767) && !(n == 1 && t == 0 && text == spoiled))
                return name + " cell " + std::to_string(col) + "," + std::to_string(row) +
                       " holds '" + text + "'";
        }
    }
    return {};
}

std::string CheckProgramTables(FormControls& form) {
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            std::string fault =
                CheckProgramGrid(form.ProgramGrid(n, static_cast<PT>(t)), n, t, true, "");
            if (!fault.empty()) return fault;
        }
    }
    return {};
}

std::string CheckDynoLog(const TextGrid& log, bool cells, const Variables& vars) {
    std::string fault = CheckShape(log, 17, 4, "the dyno log table");
    if (!fault.empty() || !cells) return fault;
    for (int col = 1; col <= 16; ++col) {
        if (!IntegerIn(log.Cell(col, 0), -32768, 32767)) return "a dyno log RPM point is no number";
        for (int row = 1; row <= 3; ++row) {
            if (!IntegerIn(log.Cell(col, row), 0, 65535))
                return "a dyno log reading is no 16-bit number";
        }
    }
    for (const DynoRecord* record : {&vars.DynoLogP0, &vars.DynoLogP1toP9}) {
        for (const std::string& text : *record) {
            if (!text.empty() && !IntegerIn(text, 0, 65535))
                return "a dyno log record holds '" + text + "'";
        }
    }
    return {};
}

// What must hold after every chunk, checked in the grids touched since the last check (and
// in the dyno log records whenever a live message was handled).
std::string CheckWindow(WatchedForm& form, const Variables& vars, const std::string& spoiled,
                        bool liveHandled) {
    if (vars.RxPos > kRxBufferSize) return "RxPos is " + std::to_string(vars.RxPos);
    if (!AwaitableCode(vars.Awaiting)) return "the tool awaits " + Hex(vars.Awaiting);
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            WatchedGrid& grid = form.Program(n, static_cast<PT>(t));
            if (!grid.written && !grid.moved) continue;
            std::string fault = CheckProgramGrid(grid, n, t, grid.written, spoiled);
            if (!fault.empty()) return fault;
            grid.written = grid.moved = false;
        }
    }
    WatchedGrid& log = form.Named(Grid::StrGridDynoLog);
    if (log.written || log.moved || liveHandled) {
        std::string fault = CheckDynoLog(log, log.written || liveHandled, vars);
        if (!fault.empty()) return fault;
        log.written = log.moved = false;
    }
    WatchedGrid& config = form.Named(Grid::StrGridConfig);
    if (config.written || config.moved) {
        std::string fault = CheckShape(config, 16, 1, "the configuration row");
        for (int col = 0; col < 16 && fault.empty(); ++col) {
            if (!IntegerIn(config.Cell(col, 0), 0, 65535))
                fault = "configuration cell " + std::to_string(col) + " is no 16-bit number";
        }
        if (!fault.empty()) return fault;
        config.written = config.moved = false;
    }
    WatchedGrid& sent = form.Named(Grid::StrGridSDdata);
    if (sent.written || sent.moved) {
        std::string fault = CheckShape(sent, 2, 5, "the SENT table");
        if (!fault.empty()) return fault;
        sent.written = sent.moved = false;
    }
    return {};
}

struct AssemblerFixture {
    WatchedForm form;
    Variables vars;
    CheckingPort port;
    Link link{form, vars, port};
    std::string spoiled;  // the text of the spoiled cell, when there is one

    // The window as it starts, then as the start byte asks.
    std::string Prepare(uint8_t startByte);
};

std::string AssemblerFixture::Prepare(uint8_t startByte) {
    const auto start = static_cast<AssemblerStart>(startByte & 0x07);
    const auto edition = static_cast<SeedEdition>((startByte >> 3) & 0x03);

    InitialiseTables(form, vars);
    uint16_t cursor = 0;
    form.ControlByName(Ctl::RadioButtP0).SetChecked(true);
    form.ControlByName(Ctl::ComboBoxPedalRes).SetItemIndex(1);
    form.ControlByName(Ctl::NumBoxStartTime).SetCaption("0");

    switch (edition) {
        case SeedEdition::Two:
        case SeedEdition::Three: {
            // As a finished download left it.
            const char e = edition == SeedEdition::Three ? '3' : '2';
            vars.BoxSerial = e == '3' ? "30012345" : "20054321";
            ApplyEditionLayout(form, e);
            const std::vector<uint8_t> image = MakeBoxImage(e);
            std::copy(image.begin(), image.end(), vars.RxBuffer.begin() + 1);
            cursor = 0;
            if (e == '3') {
                DecodeImage3(form, vars.RxBuffer, cursor);
            } else {
                DecodeImage2(form, vars.RxBuffer, cursor);
            }
            cursor = 0;
            LabelDynoLogTable(form, vars.RxBuffer, cursor);
            break;
        }
        case SeedEdition::None:
            // No box read yet; the user typed a serial number.
            form.ControlByName(Ctl::EditNewSerial).SetCaption("40000001");
            break;
        case SeedEdition::Unknown:
            vars.BoxSerial = "X1234567";
            break;
    }
    if (!vars.BoxSerial.empty()) {
        form.ControlByName(Ctl::EditNewSerial).SetCaption(vars.BoxSerial);
        form.ControlByName(Ctl::LabelSerial).SetCaption(SerialLabelText(vars.BoxSerial));
    }
    if (startByte & 0x20) {
        spoiled = "12a";
        form.ProgramGrid(1, PT::CH1).SetCell(8, 0, spoiled);
    }
    if (startByte & 0x40) form.ControlByName(Ctl::NumBoxStartTime).SetCaption("");
    if (startByte & 0x80) form.SetPageIndex(0);

    return Attempt([&] {
        switch (start) {
            case AssemblerStart::Idle:
                break;
            case AssemblerStart::DownloadAsked:
                Download(link);
                break;
            case AssemblerStart::SerialSent:
            case AssemblerStart::ImageSent:
            case AssemblerStart::ConfigSent:
            case AssemblerStart::StartTimeSent: {
                SendSerialNumber(link);
                const int acks =
                    static_cast<int>(start) - static_cast<int>(AssemblerStart::SerialSent);
                for (int k = 0; k < acks; ++k) ReceiveBytes(link, &ACK, 1);
                break;
            }
            case AssemblerStart::ProgramSelected:
                SelectProgram(link, 3);
                break;
            case AssemblerStart::LiveStream:
                SwitchDynoLog(link);
                break;
        }
    });
}

std::string WithPlace(const std::string& fault, size_t at) {
    return fault + " (after the chunk at input byte " + std::to_string(at) + ")";
}

std::string TempFilePath() {
    static const std::string path = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "boxtool-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            abort();
        }
        static std::string folder = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        });
        return pattern + "/input.bin";
    }();
    return path;
}

std::vector<std::string> ProgramAndConfigTexts(FormControls& form) {
    std::vector<std::string> texts;
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            const TextGrid& grid = form.ProgramGrid(n, static_cast<PT>(t));
            for (int row = 0; row < grid.RowCount(); ++row) {
                for (int col = 0; col < grid.ColCount(); ++col)
                    texts.push_back(grid.Cell(col, row));
            }
        }
    }
    for (int col = 0; col < 16; ++col)
        texts.push_back(form.GridByName(Grid::StrGridConfig).Cell(col, 0));
    return texts;
}

AssemblerOutcome FeedAssembler(const uint8_t* data, size_t size) {
    AssemblerOutcome outcome;
    if (size < 2) return outcome;
    const size_t chunk = 1 + data[0] % 64;

    AssemblerFixture f;
    outcome.fault = f.Prepare(data[1]);
    if (outcome.fault.empty()) outcome.fault = f.port.fault;
    if (outcome.fault.empty()) outcome.fault = CheckWindow(f.form, f.vars, f.spoiled, true);
    if (!outcome.fault.empty()) {
        outcome.fault = "while preparing: " + outcome.fault;
        return outcome;
    }
    f.port.codes.clear();
    const uint64_t liveBefore = f.vars.LiveMessages;
    RxBufferT rxBefore{};

    for (size_t at = 2; at < size; at += chunk) {
        const size_t count = std::min(chunk, size - at);
        // With nothing awaited and no stream, what arrives must leave everything as it is.
        const bool quiet = f.vars.Awaiting == 0 && f.vars.DynoLogging == 0;
        const bool streaming = f.vars.DynoLogging != 0;
        if (quiet) rxBefore = f.vars.RxBuffer;
        const uint16_t posBefore = f.vars.RxPos;
        const uint64_t messagesBefore = f.vars.LiveMessages;
        const size_t writtenBefore = f.port.codes.size();

        std::string fault = Attempt([&] { ReceiveBytes(f.link, data + at, count); });
        if (fault.empty()) fault = f.port.fault;
        if (fault.empty() && f.port.Midway()) fault = "a command was left half written";
        const uint64_t handled = f.vars.LiveMessages - messagesBefore;
        if (fault.empty()) fault = CheckWindow(f.form, f.vars, f.spoiled, handled > 0);
        if (fault.empty() && quiet &&
            (f.vars.RxPos != posBefore || f.vars.RxBuffer != rxBefore ||
             f.port.codes.size() != writtenBefore)) {
            fault = "bytes that nobody awaited changed the buffer or made the tool write";
        }
        if (fault.empty() && handled > 0 && !streaming)
            fault = "a live message was handled while the stream was off";
        if (fault.empty() && handled * kLiveMessageLength2 > posBefore + count)
            fault = "more live messages were handled than the bytes could hold";
        if (!fault.empty()) {
            outcome.fault = WithPlace(fault, at);
            break;
        }
    }
    // The input ends: the line goes quiet, and a live message that waited for its next
    // byte is taken.
    if (outcome.fault.empty()) {
        const uint16_t posBefore = f.vars.RxPos;
        const uint64_t messagesBefore = f.vars.LiveMessages;
        const size_t writtenBefore = f.port.codes.size();
        std::string fault = Attempt([&] { LiveLineQuiet(f.link); });
        const uint64_t handled = f.vars.LiveMessages - messagesBefore;
        if (fault.empty()) fault = f.port.fault;
        if (fault.empty()) fault = CheckWindow(f.form, f.vars, f.spoiled, handled > 0);
        if (fault.empty() && (handled > 1 || f.vars.RxPos > posBefore))
            fault = "a quiet line took more than the message that waited";
        if (fault.empty() && f.port.codes.size() != writtenBefore)
            fault = "a quiet line made the tool write";
        if (!fault.empty()) outcome.fault = "when the line went quiet: " + fault;
    }
    outcome.commands = f.port.codes;
    outcome.liveMessages = f.vars.LiveMessages - liveBefore;
    return outcome;
}

std::string LoadTuningFileInput(const uint8_t* data, size_t size) {
    const std::string path = TempFilePath();
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!file.flush()) {
            std::perror(path.c_str());
            abort();
        }
    }

    // A window with tables and a buffer that a file must either replace or leave alone.
    MemoryForm form;
    Variables vars;
    ApplyEditionLayout(form, '3');
    for (size_t k = 0; k < vars.RxBuffer.size(); ++k)
        vars.RxBuffer[k] = static_cast<uint8_t>(k * 13 + 5);
    uint16_t cursor = 0;
    DecodeImage3(form, vars.RxBuffer, cursor);
    DecodeConfigRow(vars.RxBuffer, form.GridByName(Grid::StrGridConfig), cursor);
    const std::vector<std::string> textsBefore = ProgramAndConfigTexts(form);
    const RxBufferT rxBefore = vars.RxBuffer;

    bool rejected = false;
    std::string fault;
    try {
        LoadTuningFile(form, vars, path);
    } catch (const FileError&) {
        rejected = true;
    } catch (const std::exception& error) {
        fault = std::string("unexpected exception: ") + error.what();
    } catch (...) {
        fault = "unexpected exception of no standard type";
    }
    if (!fault.empty()) return fault;

    const bool acceptedSize = size == kTuningFileSize2 || size == kTuningFileSize3;
    if (rejected) {
        if (acceptedSize) return "a file of " + std::to_string(size) + " bytes was rejected";
        if (ProgramAndConfigTexts(form) != textsBefore) return "a rejected file changed a table";
        if (vars.RxBuffer != rxBefore) return "a rejected file changed RxBuffer";
        return {};
    }
    if (!acceptedSize) return "a file of " + std::to_string(size) + " bytes was accepted";
    if (vars.RxBuffer[0] != rxBefore[0] ||
        !std::equal(vars.RxBuffer.begin() + 1 + static_cast<long>(size), vars.RxBuffer.end(),
                    rxBefore.begin() + 1 + static_cast<long>(size))) {
        return "the file was placed beyond its bytes in RxBuffer";
    }
    if (!std::equal(data, data + size, vars.RxBuffer.begin() + 1))
        return "RxBuffer does not hold the file from byte 1 on";
    fault = CheckProgramTables(form);
    if (!fault.empty()) return fault;
    // Saving what was loaded must give the same file back.
    const char edition = size == kTuningFileSize3 ? '3' : '2';
    const std::vector<uint8_t> saved = EncodeTuningFile(form, edition);
    if (!std::equal(saved.begin(), saved.end(), data, data + size))
        return "saving the loaded tables does not give the file back";
    return {};
}

// What escapes the fixture or the checks is a fault of its own.
std::string EscapedException() {
    try {
        throw;
    } catch (const std::exception& error) {
        return std::string("exception escaped the checks: ") + error.what();
    } catch (...) {
        return "exception of no standard type escaped the checks";
    }
}

}  // namespace

AssemblerOutcome ReplayAssemblerInput(const uint8_t* data, size_t size) {
    try {
        return FeedAssembler(data, size);
    } catch (...) {
        return {EscapedException(), {}, 0};
    }
}

std::string ReplayTuningFileInput(const uint8_t* data, size_t size) {
    try {
        return LoadTuningFileInput(data, size);
    } catch (...) {
        return EscapedException();
    }
}

void RunAssemblerInput(const uint8_t* data, size_t size) {
    const std::string fault = ReplayAssemblerInput(data, size).fault;
    if (fault.empty()) return;
    std::fprintf(stderr, "assembler fault: %s\n", fault.c_str());
    abort();
}

void RunTuningFileInput(const uint8_t* data, size_t size) {
    const std::string fault = ReplayTuningFileInput(data, size);
    if (fault.empty()) return;
    std::fprintf(stderr, "tuning file fault: %s\n", fault.c_str());
    abort();
}
