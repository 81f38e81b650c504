#include <sys/stat.h>

#include "BoxImage.h"
#include "Conversions.h"
#include "TestSupport.h"
#include "TuningFile.h"

namespace {

using PT = ProgramTable;

void FillConfig(FormControls& form) {
    TextGrid& config = form.GridByName(Grid::StrGridConfig);
    for (int k = 0; k < 16; ++k) config.SetCell(k, 0, std::to_string(4000 * k + 35));
}

TEST(TuningFile, ThreeChannelSaveOpenRoundTripIsExact) {
    TempDir dir;
    MemoryForm form;
    FillDistinct(form);
    FillConfig(form);
    form.GridByName(Grid::StrGridConfig).SetCell(15, 0, "65535");
    const std::vector<uint8_t> bytes = EncodeTuningFile(form, '3');
    ASSERT_EQ(bytes.size(), 3776u);
    EXPECT_EQ(bytes[3774], 0xFF);
    EXPECT_EQ(bytes[3775], 0xFF);
    WriteBytes(dir / "a.bin", bytes);

    MemoryForm back;
    Variables vars;
    EXPECT_EQ(LoadTuningFile(back, vars, dir / "a.bin"), '3');
    EXPECT_EQ(AllProgramTexts(back), AllProgramTexts(form));
    for (int k = 0; k < 16; ++k) {
        EXPECT_EQ(back.GridByName(Grid::StrGridConfig).Cell(k, 0),
                  form.GridByName(Grid::StrGridConfig).Cell(k, 0));
    }
    EXPECT_EQ(EncodeTuningFile(back, '3'), bytes);
    EXPECT_EQ(vars.RxPos, 0) << "loading leaves the receive index alone";
}

TEST(TuningFile, TwoChannelFileFillsCh1Ch2AndOnlyTheFirstConfigCell) {
    TempDir dir;
    MemoryForm form;
    FillDistinct(form);
    form.GridByName(Grid::StrGridConfig).SetCell(0, 0, "300");
    const std::vector<uint8_t> bytes = EncodeTuningFile(form, '2');
    ASSERT_EQ(bytes.size(), 2305u);
    EXPECT_EQ(bytes[2304], 44) << "the low 8 bits of 300";
    WriteBytes(dir / "two.bin", bytes);

    MemoryForm back;
    FillDistinct(back);
    FillConfig(back);
    for (int n = 1; n <= 9; ++n) back.Program(n, PT::CH1).SetCell(3, 2, "changed");
    Variables vars;
    EXPECT_EQ(LoadTuningFile(back, vars, dir / "two.bin"), '2');
    for (int n = 1; n <= 9; ++n) {
        EXPECT_EQ(back.Program(n, PT::CH1).Cell(3, 2), ValueAt(n, 0, 3, 2));
        EXPECT_EQ(back.Program(n, PT::CH2).Cell(16, 3), ValueAt(n, 1, 16, 3));
        EXPECT_EQ(back.Program(n, PT::CH3).Cell(5, 1), "0");
        EXPECT_EQ(back.Program(n, PT::Fuel).Cell(9, 0), "0");
    }
    EXPECT_EQ(back.GridByName(Grid::StrGridConfig).Cell(0, 0), "44");
    EXPECT_EQ(back.GridByName(Grid::StrGridConfig).Cell(1, 0), "4035") << "other cells kept";
    EXPECT_EQ(EncodeTuningFile(back, '2'), bytes);
}

TEST(TuningFile, NoEditionMeansNothingToSave) {
    MemoryForm form;
    FillDistinct(form);
    EXPECT_TRUE(EncodeTuningFile(form, '\0').empty());
    EXPECT_TRUE(EncodeTuningFile(form, '1').empty());
}

TEST(TuningFile, BadCellStopsTheEncoding) {
    MemoryForm form;
    FillDistinct(form);
    FillConfig(form);
    form.GridByName(Grid::StrGridConfig).SetCell(3, 0, "");
    EXPECT_THROW(EncodeTuningFile(form, '3'), ConversionError);
    EXPECT_NO_THROW(EncodeTuningFile(form, '2')) << "2 channels use only the first cell";
}

struct Rejected {
    const char* what;
    std::string (*make)(const TempDir& dir);
    const char* reason;
};

std::string FileOfSize(const TempDir& dir, size_t size) {
    const std::string path = dir / ("size" + std::to_string(size) + ".bin");
    WriteBytes(path, std::vector<uint8_t>(size, 0x11));
    return path;
}

void PrintTo(const Rejected& c, std::ostream* os) {
    *os << c.what;
}

class LoadRejects : public testing::TestWithParam<Rejected> {};

TEST_P(LoadRejects, ChangesNothingAndSaysWhy) {
    TempDir dir;
    const std::string path = GetParam().make(dir);
    MemoryForm form;
    FillDistinct(form);
    FillConfig(form);
    Variables vars;
    vars.RxBuffer.fill(0x5A);
    const auto before = AllProgramTexts(form);
    try {
        LoadTuningFile(form, vars, path);
        FAIL() << "accepted";
    } catch (const FileError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("\"" + path + "\""), std::string::npos) << message;
        EXPECT_NE(message.find(GetParam().reason), std::string::npos) << message;
    }
    EXPECT_EQ(AllProgramTexts(form), before);
    EXPECT_EQ(form.GridByName(Grid::StrGridConfig).Cell(0, 0), "35");
    for (uint8_t byte : vars.RxBuffer) ASSERT_EQ(byte, 0x5A);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadRejects,
    testing::Values(
        Rejected{"empty", [](const TempDir& d) { return FileOfSize(d, 0); },
                 "its size is 0 bytes, but a tuning file has 2305 bytes (2 channels) or 3776 bytes "
                 "(3 channels)"},
        Rejected{"2304", [](const TempDir& d) { return FileOfSize(d, 2304); },
                 "size is 2304 bytes"},
        Rejected{"2306", [](const TempDir& d) { return FileOfSize(d, 2306); },
                 "size is 2306 bytes"},
        Rejected{"3775", [](const TempDir& d) { return FileOfSize(d, 3775); },
                 "size is 3775 bytes"},
        Rejected{"3777", [](const TempDir& d) { return FileOfSize(d, 3777); },
                 "size is 3777 bytes"},
        Rejected{"directory",
                 [](const TempDir& d) {
                     std::filesystem::create_directory(d / "folder.bin");
                     return d / "folder.bin";
                 },
                 "not a regular file"},
        Rejected{"fifo",
                 [](const TempDir& d) {
                     mkfifo((d / "pipe.bin").c_str(), 0600);
                     return d / "pipe.bin";
                 },
                 "not a regular file"},
        Rejected{"missing", [](const TempDir& d) { return d / "missing.bin"; }, "does not exist"}));

TEST(TuningFile, UnreadableFileIsReported) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
    TempDir dir;
    const std::string path = FileOfSize(dir, 3776);
    chmod(path.c_str(), 0);
    MemoryForm form;
    Variables vars;
    EXPECT_THROW(LoadTuningFile(form, vars, path), FileError);
}

TEST(TuningFileName, AddsBinOnlyWhenMissing) {
    const std::pair<const char*, const char*> cases[] = {{"map", "map.bin"},
                                                         {"map.bin", "map.bin"},
                                                         {"map.BIN", "map.BIN"},
                                                         {"map.Bin", "map.Bin"},
                                                         {"map.bin.old", "map.bin.old.bin"},
                                                         {"bin", "bin.bin"},
                                                         {"/x/y/.bin", "/x/y/.bin"},
                                                         {"map.bi", "map.bi.bin"}};
    for (const auto& [chosen, expected] : cases) EXPECT_EQ(TuningFileName(chosen), expected);
}

TEST(ListTuningFiles, ListsBinFilesOfAnyCaseAndNothingElse) {
    TempDir dir;
    for (const char* name : {"b.BIN", "a.bin", "C.Bin", "notes.txt", "bin", "x.bin.txt"}) {
        WriteBytes(dir / name, {1});
    }
    std::filesystem::create_directory(dir / "folder.bin");
    EXPECT_EQ(ListTuningFiles(dir.Path().string()),
              (std::vector<std::string>{"a.bin", "b.BIN", "C.Bin"}));
    EXPECT_TRUE(ListTuningFiles(dir / "missing").empty());
}

}  // namespace
