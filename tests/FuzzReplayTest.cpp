// The fuzz targets' inputs replayed through their own harness: the seed corpus, and every
// input kept under fuzz_cases/ (what a fuzz run found, saved to stay fixed).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "Harness.h"
#include "Link.h"
#include "Seeds.h"
#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

struct ReplayCase {
    std::string target;  // "assembler" or "tuning_file"
    std::string name;
    std::vector<uint8_t> bytes;
};

std::string TestName(const ReplayCase& c) {
    std::string name = c.target + "_" + c.name;
    std::replace_if(
        name.begin(), name.end(),
        [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '_');
    return name;
}

std::vector<ReplayCase> AllCases() {
    std::vector<ReplayCase> cases;
    for (const FuzzSeed& seed : AssemblerSeeds())
        cases.push_back({"assembler", "seed_" + seed.name, seed.bytes});
    for (const FuzzSeed& seed : TuningFileSeeds())
        cases.push_back({"tuning_file", "seed_" + seed.name, seed.bytes});
    for (const char* target : {"assembler", "tuning_file"}) {
        const fs::path folder = fs::path(FUZZ_CASES_DIR) / target;
        std::vector<fs::path> files;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            if (entry.is_regular_file() && entry.path().filename() != "README.md")
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files)
            cases.push_back({target, file.filename().string(), ReadBytes(file.string())});
    }
    return cases;
}

class FuzzReplay : public testing::TestWithParam<ReplayCase> {};

TEST_P(FuzzReplay, KeepsEveryRule) {
    const ReplayCase& c = GetParam();
    const std::string fault = c.target == "assembler"
                                  ? ReplayAssemblerInput(c.bytes.data(), c.bytes.size()).fault
                                  : ReplayTuningFileInput(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(fault, "");
}

INSTANTIATE_TEST_SUITE_P(Inputs, FuzzReplay, testing::ValuesIn(AllCases()),
                         [](const testing::TestParamInfo<ReplayCase>& info) {
                             return TestName(info.param);
                         });

// The seeds must reach deep into the conversation, or the fuzzer starts from nothing. A
// session fed byte by byte runs to its end; in bigger chunks it stops early, since bytes
// behind a completed answer are dropped (the box answers only what was asked).
struct SeedReach {
    std::string seed;
    std::vector<uint8_t> commands;
    uint64_t liveMessages;
};

class SeedReaches : public testing::TestWithParam<SeedReach> {};

TEST_P(SeedReaches, TheEndOfItsConversation) {
    const SeedReach& want = GetParam();
    const std::vector<FuzzSeed> seeds = AssemblerSeeds();
    const auto seed = std::find_if(seeds.begin(), seeds.end(),
                                   [&](const FuzzSeed& s) { return s.name == want.seed; });
    ASSERT_NE(seed, seeds.end());
    const AssemblerOutcome outcome = ReplayAssemblerInput(seed->bytes.data(), seed->bytes.size());
    EXPECT_EQ(outcome.fault, "");
    EXPECT_EQ(outcome.commands, want.commands);
    EXPECT_EQ(outcome.liveMessages, want.liveMessages);
}

const std::vector<uint8_t> kChain2 = {Cmd::ReadImage2, Cmd::ReadProgram, Cmd::ReadConfig2,
                                      Cmd::ReadStartTime};
const std::vector<uint8_t> kChain3 = {Cmd::ReadImage3,    Cmd::ReadProgram, Cmd::ReadConfig3,
                                      Cmd::ReadStartTime, Cmd::ReadPedal,   Cmd::ReadSentData};

std::vector<uint8_t> SendThenRead(std::vector<uint8_t> writes, const std::vector<uint8_t>& chain) {
    writes.push_back(Cmd::ReadSerial);
    writes.insert(writes.end(), chain.begin(), chain.end());
    return writes;
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, SeedReaches,
    testing::Values(
        SeedReach{"download-2ch-by1", kChain2, 0}, SeedReach{"download-3ch-by1", kChain3, 0},
        SeedReach{"send-chain-2ch",
                  SendThenRead({Cmd::WriteImage2, Cmd::WriteConfig2, Cmd::WriteStartTime}, kChain2),
                  0},
        SeedReach{"send-chain-3ch",
                  SendThenRead({Cmd::WriteImage3, Cmd::WriteConfig3, Cmd::WriteStartTime,
                                Cmd::WritePedal},
                               kChain3),
                  0},
        // Six whole messages after some garbage, then one cut short.
        SeedReach{"live-3ch", {}, 6}, SeedReach{"live-2ch-poisoned", {}, 6},
        // Six 11-byte messages, the last taken when the line goes quiet.
        SeedReach{"live-2ch-short", {}, 6}),
    [](const testing::TestParamInfo<SeedReach>& info) {
        std::string name = info.param.seed;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

}  // namespace
