#include "TuningFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "BoxImage.h"
#include "Conversions.h"
#include "MemoryForm.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return text;
}

[[noreturn]] void FailOpen(const std::string& path, const std::string& reason) {
    throw FileError("Cannot open \"" + path + "\": " + reason);
}

}  // namespace

char LoadTuningFile(FormControls& form, Variables& vars, const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (error || !fs::exists(status)) FailOpen(path, "the file does not exist.");
    if (!fs::is_regular_file(status)) FailOpen(path, "it is not a regular file.");
    const uintmax_t size = fs::file_size(path, error);
    if (error) FailOpen(path, error.message() + ".");
    if (size != kTuningFileSize3 && size != kTuningFileSize2) {
        FailOpen(path, "its size is " + std::to_string(size) +
                           " bytes, but a tuning file has 2305 bytes (2 channels) or 3776 bytes "
                           "(3 channels).");
    }

    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    std::ifstream file(path, std::ios::binary);
    if (!file) FailOpen(path, std::strerror(errno) + std::string("."));
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    // A file that shrank since its size was taken, or grew, is not the file that was checked.
    if (file.gcount() != static_cast<std::streamsize>(bytes.size()) ||
        file.peek() != std::char_traits<char>::eof()) {
        FailOpen(path, "the file changed while it was read.");
    }
    file.close();

    DecodeTuningFile(form, vars, bytes);
    // The tables now come from the file, not from a box.
    vars.TablesSerial.clear();
    return size == kTuningFileSize3 ? '3' : '2';
}

void DecodeTuningFile(FormControls& form, Variables& vars, const std::vector<uint8_t>& bytes) {
    const size_t size = bytes.size();
    if (size != kTuningFileSize3 && size != kTuningFileSize2) return;
    std::copy(bytes.begin(), bytes.end(), vars.RxBuffer.begin() + 1);
    uint16_t cursor = 0;
    if (size == kTuningFileSize3) {
        DecodeImage3(form, vars.RxBuffer, cursor);
        DecodeConfigRow(vars.RxBuffer, form.GridByName(Grid::StrGridConfig), cursor);
        return;
    }
    DecodeImage2(form, vars.RxBuffer, cursor);
    form.GridByName(Grid::StrGridConfig).SetCell(0, 0, IntToText(vars.RxBuffer[kTuningFileSize2]));
}

std::vector<FileDifference> CompareWithTuningFile(FormControls& form, char edition,
                                                  const std::string& path, bool everyCell) {
    // The file goes into a copy of the tables: what the file does not hold stays as the
    // tables have it and so never counts as a difference.
    MemoryForm file;
    const auto copy = [](TextGrid& from, TextGrid& to) {
        for (int row = 0; row < from.RowCount(); ++row) {
            for (int col = 0; col < from.ColCount(); ++col)
                to.SetCell(col, row, from.Cell(col, row));
        }
    };
    for (int program = 1; program <= 9; ++program) {
        for (int table = 0; table < 4; ++table) {
            const auto t = static_cast<ProgramTable>(table);
            copy(form.ProgramGrid(program, t), file.ProgramGrid(program, t));
        }
    }
    copy(form.GridByName(Grid::StrGridConfig), file.GridByName(Grid::StrGridConfig));

    auto vars = std::make_unique<Variables>();
    const char fileEdition = LoadTuningFile(file, *vars, path);
    if ((edition == '2' || edition == '3') && edition != fileEdition) {
        FailOpen(path, std::string("it is a tuning file of the ") + fileEdition +
                           "-channel box, and the tables hold the maps of a " + edition +
                           "-channel box.");
    }

    std::vector<FileDifference> differences;
    const auto compare = [&](TextGrid& ours, TextGrid& theirs, int program, ProgramTable t) {
        for (int row = 0; row < ours.RowCount(); ++row) {
            for (int col = 0; col < ours.ColCount(); ++col) {
                const std::string fileText = theirs.Cell(col, row);
                const bool differs = ours.Cell(col, row) != fileText;
                if (differs || everyCell)
                    differences.push_back({program, t, col, row, fileText, differs});
            }
        }
    };
    for (int program = 1; program <= 9; ++program) {
        for (int table = 0; table < 4; ++table) {
            const auto t = static_cast<ProgramTable>(table);
            compare(form.ProgramGrid(program, t), file.ProgramGrid(program, t), program, t);
        }
    }
    compare(form.GridByName(Grid::StrGridConfig), file.GridByName(Grid::StrGridConfig), 0,
            ProgramTable::CH1);
    return differences;
}

std::vector<uint8_t> EncodeTuningFile(FormControls& form, char edition) {
    std::vector<uint8_t> bytes;
    uint16_t cursor = 0;
    if (edition == '2') {
        bytes.resize(kTuningFileSize2);
        EncodeImage2(form, bytes, cursor);
        const int32_t config = StrToInt(form.GridByName(Grid::StrGridConfig).Cell(0, 0));
        bytes[kImageSize2] = static_cast<uint8_t>(config & 0xFF);
    } else if (edition == '3') {
        bytes.resize(kTuningFileSize3);
        EncodeImage3(form, bytes, cursor);
        EncodeConfigRow(form.GridByName(Grid::StrGridConfig), bytes, cursor);
    }
    return bytes;
}

bool HasTuningFileExtension(const std::string& name) {
    return name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".bin";
}

std::string TuningFileName(const std::string& chosen) {
    return HasTuningFileExtension(chosen) ? chosen : chosen + ".bin";
}

std::vector<std::string> ListTuningFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (HasTuningFileExtension(name) && it->is_regular_file(error)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const std::string la = Lower(a), lb = Lower(b);
        return la != lb ? la < lb : a < b;
    });
    return names;
}
