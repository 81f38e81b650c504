// Fault settings: what the tool receives after each command, and the hang-up.
#include <gtest/gtest.h>

#include "BoxSimulator.h"
#include "SimPort.h"

namespace {

using Clock = std::chrono::steady_clock;

const Bytes kSerialReport = {0x1E, '3', '0', '0', '1', '2', '3', '4', '5'};

struct FaultCase {
    const char* name;
    BoxSimFaults faults;
    std::vector<Bytes> commands;
    // What arrives after each command and before the next.
    std::vector<Bytes> answers;
    // The answers cannot arrive sooner than this after the first command.
    std::chrono::milliseconds atLeast{0};
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

BoxSimFaults Silence(uint8_t code) {
    BoxSimFaults f;
    f.silenceFrom = code;
    return f;
}

BoxSimFaults Garbage(size_t count) {
    BoxSimFaults f;
    f.garbageBytes = count;
    f.garbageByte = 0xEE;
    return f;
}

BoxSimFaults Chunks(size_t size, std::chrono::milliseconds gap) {
    BoxSimFaults f;
    f.chunkSize = size;
    f.chunkGap = gap;
    return f;
}

BoxSimFaults Merge(size_t count) {
    BoxSimFaults f;
    f.mergeMessages = count;
    return f;
}

const FaultCase kCases[] = {
    {"SilenceFromImageRead",
     Silence(0x66),
     {{0x1E}, {0x66}, {0x1E}, {0x29, 3}},
     {kSerialReport, {}, {}, {}}},
    {"GarbageBeforeEveryAnswer",
     Garbage(3),
     {{0x1E}, {0x29, 2}},
     {Cat({0xEE, 0xEE, 0xEE}, kSerialReport), {0xEE, 0xEE, 0xEE, ACK}}},
    {"ChunksWithGaps", Chunks(4, 40ms), {{0x1E}}, {kSerialReport}, 80ms},
    {"MergedAnswers",
     Merge(2),
     {{0x29, 1}, {0x29, 2}, {0x1F}, {0x21}},
     {{}, {ACK, ACK}, {}, {0x1F, 2, 0, 0x21, 2}}},
};

class FaultTest : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultTest, ToolReceivesWhatTheFaultMakes) {
    const FaultCase& c = GetParam();
    BoxSimOptions options;
    options.pacing = false;
    BoxSimulator box(options);
    ASSERT_TRUE(box.Start());
    SimPort port(box.PortPath());
    box.SetFaults(c.faults);

    const auto start = Clock::now();
    for (size_t i = 0; i < c.commands.size(); ++i) {
        port.Write(c.commands[i]);
        Bytes got = port.Read(c.answers[i].size());
        const Bytes extra = port.ReadUntilQuiet(100ms);
        got.insert(got.end(), extra.begin(), extra.end());
        EXPECT_EQ(got, c.answers[i]) << "after command " << i;
    }
    EXPECT_GE(Clock::now() - start, c.atLeast);
    EXPECT_EQ(box.Received().size(), c.commands.size()) << "every command is still received";
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FaultChanges, ClearingFaultsEndsSilenceAndReleasesHeldAnswers) {
    BoxSimOptions options;
    options.pacing = false;
    BoxSimulator box(options);
    ASSERT_TRUE(box.Start());
    SimPort port(box.PortPath());

    box.SetFaults(Silence(0x1E));
    port.Write({0x1E});
    EXPECT_TRUE(port.ReadUntilQuiet(100ms).empty());
    box.SetFaults(Merge(5));
    port.Write({0x1E});
    EXPECT_TRUE(port.ReadUntilQuiet(100ms).empty()) << "held back";
    box.SetFaults({});
    EXPECT_EQ(port.Read(9), kSerialReport) << "released when merging is switched off";
}

TEST(HangUp, ClosesMidAnswerAndReopensOnANewPort) {
    BoxSimOptions options;
    options.pacing = false;
    BoxSimulator box(options);
    ASSERT_TRUE(box.Start());
    const std::string firstPath = box.PortPath();
    SimPort port(firstPath);

    BoxSimFaults faults;
    faults.hangUpAfter = 100;
    faults.hangUpCode = 0x66;
    faults.reopenAfter = 50ms;
    box.SetFaults(faults);

    EXPECT_EQ(port.Exchange({0x1E}, 9), kSerialReport) << "another answer passes whole";
    port.Write({0x66});
    const Bytes partial = port.Read(3745);
    EXPECT_TRUE(port.HungUp());
    ASSERT_EQ(partial.size(), 100u);
    EXPECT_EQ(partial[0], 0x66);
    EXPECT_EQ(box.HangUps(), 1u);
    EXPECT_FALSE(box.Faults().hangUpAfter.has_value()) << "one-shot";

    std::string newPath;
    for (auto end = Clock::now() + 5s; newPath.empty() && Clock::now() < end;) {
        std::this_thread::sleep_for(5ms);
        newPath = box.PortPath();
    }
    ASSERT_FALSE(newPath.empty());
    SimPort again(newPath);
    EXPECT_EQ(again.Exchange({0x66}, 3745).size(), 3745u);
}

}  // namespace
