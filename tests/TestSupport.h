#pragma once
// Small helpers shared by the core tests.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MemoryForm.h"

// A folder of its own for one test, removed afterwards.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "boxtool-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Every value cell of every program table, in one list, for before/after comparisons.
inline std::vector<std::string> AllProgramTexts(FormControls& form) {
    std::vector<std::string> texts;
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            TextGrid& grid = form.ProgramGrid(n, static_cast<ProgramTable>(t));
            for (int row = 0; row < grid.RowCount(); ++row) {
                for (int col = 0; col < grid.ColCount(); ++col)
                    texts.push_back(grid.Cell(col, row));
            }
        }
    }
    return texts;
}

// Fills every value cell with a distinct 16-bit text derived from its place.
inline std::string ValueAt(int program, int table, int col, int row) {
    return std::to_string((program * 7919 + table * 613 + col * 37 + row * 11) % 65536 - 32768);
}

inline void FillDistinct(FormControls& form) {
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            TextGrid& grid = form.ProgramGrid(n, static_cast<ProgramTable>(t));
            for (int row = 0; row < grid.RowCount(); ++row) {
                for (int col = 1; col <= 16; ++col) grid.SetCell(col, row, ValueAt(n, t, col, row));
            }
        }
    }
}
