// The wire at 115200 baud in both directions. Only lower bounds are asserted: a slow
// machine may take longer, never shorter.
#include <gtest/gtest.h>

#include "BoxSimulator.h"
#include "SimPort.h"

namespace {

using Clock = std::chrono::steady_clock;

// 10 bits per byte at 115200 baud.
constexpr double kByteSeconds = 10.0 / 115200.0;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Transfer {
    const char* name;
    Bytes command;
    size_t answerSize;
    // Bytes that cross the wire, both ways, before the answer is complete.
    size_t wireBytes;
};

void PrintTo(const Transfer& t, std::ostream* os) {
    *os << t.name;
}

class PacingTest : public testing::TestWithParam<Transfer> {};

TEST_P(PacingTest, TransferTakesItsWireTime) {
    const Transfer& t = GetParam();
    BoxSimulator box;  // 3-channel, pacing on
    ASSERT_TRUE(box.Start());
    SimPort port(box.PortPath());

    const auto start = Clock::now();
    port.Write(t.command);
    const Bytes answer = port.Read(t.answerSize);
    const double elapsed = Seconds(Clock::now() - start);

    ASSERT_EQ(answer.size(), t.answerSize);
    EXPECT_GE(elapsed, 0.9 * t.wireBytes * kByteSeconds);

    // The box stamps the bytes it takes at wire rate too.
    const auto bytes = box.ReceivedBytes();
    ASSERT_EQ(bytes.size(), t.command.size());
    EXPECT_GE(Seconds(bytes.back().at - bytes.front().at),
              0.9 * (t.command.size() - 1) * kByteSeconds);
}

INSTANTIATE_TEST_SUITE_P(Image, PacingTest,
                         testing::Values(Transfer{"Download", {0x66}, 3745, 1 + 3745},
                                         Transfer{"Upload", Cat({0x65}, Bytes(3744, 0x5A)), 1,
                                                  3745 + 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LivePacing, BackToBackStreamKeepsToTheWire) {
    BoxSimOptions options;
    options.serial = "30012345";
    options.liveInterval = 0us;
    BoxSimulator box(options);
    ASSERT_TRUE(box.Start());
    SimPort port(box.PortPath());

    // Timed from the command: a late reader can only make the stream look slower.
    const auto start = Clock::now();
    port.Write({0x79});
    const Bytes stream = port.Read(40 * 13);
    const double elapsed = Seconds(Clock::now() - start);
    port.Write({0x78});

    ASSERT_EQ(stream.size(), 40u * 13);
    for (size_t m = 0; m < 40; ++m) ASSERT_EQ(stream[13 * m], 0x15) << "message " << m;
    EXPECT_GE(elapsed, 0.9 * (1 + 40 * 13) * kByteSeconds);
}

}  // namespace
