// Live messages of both lengths through the framer: a 3-channel box sends 13 bytes, a
// 2-channel box 13 or 11. Every message is taken once, whatever the chunks, and a message
// that may be whole waits for the next byte or a quiet line.
#include <gtest/gtest.h>

#include <random>

#include "LinkSupport.h"

namespace {

// Notes every live sample and every run of dropped bytes the framer reports.
struct SampleTrace : LinkTrace {
    void CommandWritten(uint8_t, size_t) override {}
    void FrameReceived(const FrameEvent& frame) override {
        if (frame.kind == FrameKind::LiveSample) samples.push_back(frame.live);
        if (frame.kind == FrameKind::Skipped) skipped += frame.size;
    }
    std::vector<LiveSample> samples;
    size_t skipped = 0;
};

struct StreamFixture : LinkFixture {
    explicit StreamFixture(const std::string& serial) {
        vars.BoxSerial = serial;
        for (int c = 1; c <= 16; ++c) {
            const std::string point = std::to_string(500 + 500 * c);
            form.Program(1, ProgramTable::CH1).SetCell(c, 0, point);
            form.GridByName(Grid::StrGridDynoLog).SetCell(c, 0, point);
        }
        link.trace = &trace;
        SwitchDynoLog(link);
        port.Take();
    }
    void Feed(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
        ReceiveBytes(link, bytes.data() + from, count);
    }
    SampleTrace trace;
};

struct StreamKind {
    const char* name;
    const char* serial;
    size_t length;
};

void PrintTo(const StreamKind& kind, std::ostream* os) {
    *os << kind.name;
}

std::vector<uint8_t> Encode(const std::vector<LiveSample>& samples, size_t length) {
    std::vector<uint8_t> bytes;
    for (const LiveSample& s : samples) {
        const auto m = EncodeLiveMessage(s);
        bytes.insert(bytes.end(), m.begin(), m.begin() + static_cast<long>(length));
    }
    return bytes;
}

// Samples with 0x15 in many places: a CH3 word of 0x1515 (bytes 11 and 12 of a 13-byte
// message look like the next code), RPMs of 0x1515 (behind an 11-byte message the byte where
// a 13-byte message's successor would start), readings that start with it. The second
// message's RPM has no 0x15, so that a stream's first start shows its length.
std::vector<LiveSample> TrickySamples() {
    std::vector<LiveSample> samples = {
        {0x1515, 0x1500, 0x0015, 0x1515, 90, 0x1515},
        {3000, 310, 90, 205, 85, 0},
    };
    for (uint16_t k = 0; k < 40; ++k) {
        const auto v = static_cast<uint16_t>(k % 3 == 0 ? 0x1515 : 1000 + 97 * k);
        samples.push_back({v, static_cast<uint16_t>(k % 4 == 0 ? 0x1515 : k), 0x15,
                           static_cast<uint16_t>(0x1500 + k), 80,
                           static_cast<uint16_t>(k % 2 ? 0x1515 : k)});
    }
    return samples;
}

std::vector<LiveSample> AsSent(std::vector<LiveSample> samples, size_t length) {
    if (length == kLiveMessageLength2) {
        for (LiveSample& s : samples) s.press3 = 0;
    }
    return samples;
}

class LiveStream : public testing::TestWithParam<StreamKind> {};

// The stream fed in chunks of `sizes` (repeated), then the line goes quiet.
std::vector<LiveSample> Framed(const StreamKind& kind, const std::vector<uint8_t>& bytes,
                               const std::vector<size_t>& sizes, size_t* skipped = nullptr) {
    StreamFixture f(kind.serial);
    size_t at = 0;
    for (size_t k = 0; at < bytes.size(); ++k) {
        const size_t n = std::min(sizes[k % sizes.size()], bytes.size() - at);
        f.Feed(bytes, at, n);
        at += n;
        EXPECT_LE(f.vars.RxPos, kLiveMessageLength);
    }
    LiveLineQuiet(f.link);
    EXPECT_EQ(f.vars.RxPos, 0);
    EXPECT_EQ(f.vars.LiveMessages, f.trace.samples.size());
    if (skipped != nullptr) *skipped = f.trace.skipped;
    return f.trace.samples;
}

TEST_P(LiveStream, EveryMessageIsTakenOnceWhateverTheChunks) {
    const StreamKind kind = GetParam();
    const std::vector<LiveSample> samples = TrickySamples();
    const std::vector<LiveSample> sent = AsSent(samples, kind.length);
    const std::vector<uint8_t> bytes = Encode(samples, kind.length);

    size_t skipped = 1;
    ASSERT_EQ(Framed(kind, bytes, {bytes.size()}, &skipped), sent) << "whole";
    EXPECT_EQ(skipped, 0u);
    // Two chunks, split at every offset.
    for (size_t first = 1; first < bytes.size(); ++first)
        ASSERT_EQ(Framed(kind, bytes, {first, bytes.size()}), sent) << "split at " << first;
    for (size_t size = 1; size <= 2 * kLiveMessageLength + 1; ++size)
        ASSERT_EQ(Framed(kind, bytes, {size}), sent) << "chunks of " << size;
    std::mt19937 random(static_cast<unsigned>(kind.length));
    for (int run = 0; run < 50; ++run) {
        std::vector<size_t> sizes;
        for (int k = 0; k < 20; ++k) sizes.push_back(1 + random() % 40);
        ASSERT_EQ(Framed(kind, bytes, sizes), sent) << "run " << run;
    }

    // A box that pauses after every message: each is taken once the line is quiet at the
    // latest, and nothing waits on a 3-channel box.
    StreamFixture f(kind.serial);
    for (size_t k = 0; k < samples.size(); ++k) {
        f.Feed(bytes, k * kind.length, kind.length);
        if (kind.serial[0] == '3') {
            EXPECT_FALSE(LiveMessageWaiting(f.vars));
        }
        LiveLineQuiet(f.link);
        ASSERT_EQ(f.trace.samples.size(), k + 1) << "message " << k;
        EXPECT_EQ(f.trace.samples.back(), sent[k]) << "message " << k;
    }
    EXPECT_EQ(f.vars.LivePress1, sent.back().press1) << "the last values are the live state";
}

TEST_P(LiveStream, StepIsFoundAgainAfterGarbageOrALostByte) {
    const StreamKind kind = GetParam();
    std::vector<LiveSample> samples;
    for (uint16_t k = 0; k < 12; ++k) samples.push_back({2000, k, 80, 7, 70, 9});
    std::vector<uint8_t> bytes = {0x00, 0x33};  // garbage first
    const std::vector<uint8_t> messages = Encode(samples, kind.length);
    bytes.insert(bytes.end(), messages.begin(), messages.end());
    // A byte of the sixth message lost on the line.
    bytes.erase(bytes.begin() + 2 + static_cast<long>(5 * kind.length + 4));
    const std::vector<LiveSample> sent = AsSent(samples, kind.length);
    for (const std::vector<size_t>& sizes : std::vector<std::vector<size_t>>{{1}, {bytes.size()}}) {
        const std::vector<LiveSample> got = Framed(kind, bytes, sizes);
        // The five before the broken message and the five after its neighbour come as sent;
        // the broken one is lost or misread, and takes at most the next one with it.
        ASSERT_GE(got.size(), 10u) << "chunks of " << sizes[0];
        EXPECT_LE(got.size(), 12u) << "chunks of " << sizes[0];
        EXPECT_EQ(std::vector<LiveSample>(got.begin(), got.begin() + 5),
                  std::vector<LiveSample>(sent.begin(), sent.begin() + 5));
        EXPECT_EQ(std::vector<LiveSample>(got.end() - 5, got.end()),
                  std::vector<LiveSample>(sent.end() - 5, sent.end()))
            << "the stream is back in step";
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, LiveStream,
                         testing::Values(StreamKind{"threeChannels", "30012345", 13},
                                         StreamKind{"twoChannelsThirteenBytes", "20012345", 13},
                                         StreamKind{"twoChannelsElevenBytes", "20012345", 11}),
                         [](const testing::TestParamInfo<StreamKind>& info) {
                             return std::string(info.param.name);
                         });

// Where the bytes at hand fit both lengths of a 2-channel box's message.
TEST(LiveStreamLength, WhereBothLengthsFitThirteenIsTakenUntilTheBytesTell) {
    const LiveSample ch3Like{3000, 310, 90, 205, 85, 0x1515};  // bytes 11 and 12 are 0x15
    const auto thirteen = EncodeLiveMessage(ch3Like);
    const std::vector<uint8_t> message(thirteen.begin(), thirteen.end());

    // A 3-channel box: taken as soon as its 13 bytes are in, as always.
    StreamFixture three("30012345");
    three.Receive(message);
    EXPECT_EQ(three.trace.samples, std::vector<LiveSample>{ch3Like});

    // A 2-channel box: it might be an 11-byte message and the next one's start, so it
    // waits; a quiet line makes it a 13-byte message.
    StreamFixture two("20012345");
    two.Receive(message);
    EXPECT_TRUE(two.trace.samples.empty());
    EXPECT_TRUE(LiveMessageWaiting(two.vars));
    LiveLineQuiet(two.link);
    EXPECT_EQ(two.trace.samples, std::vector<LiveSample>{ch3Like});
    EXPECT_FALSE(LiveMessageWaiting(two.vars));
    LiveLineQuiet(two.link);
    EXPECT_EQ(two.trace.samples.size(), 1u) << "taken once";

    // 11 bytes, then a message whose RPM is 0x1515: both lengths fit the next start; the
    // start after it tells.
    const std::vector<LiveSample> eleven = {
        {3000, 310, 90, 205, 85, 0}, {0x1515, 311, 90, 206, 85, 0}, {3100, 312, 90, 207, 85, 0}};
    StreamFixture whole("20012345");
    whole.Receive(Encode(eleven, 11));
    LiveLineQuiet(whole.link);
    EXPECT_EQ(whole.trace.samples, eleven);
    EXPECT_EQ(whole.vars.LiveLength, 11);

    // With nothing beyond those starts at hand, 13 is taken (a 13-byte stream is never cut).
    StreamFixture cut("20012345");
    const std::vector<uint8_t> bytes = Encode(eleven, 11);
    cut.Receive({bytes.begin(), bytes.begin() + 14});
    LiveLineQuiet(cut.link);
    ASSERT_EQ(cut.trace.samples.size(), 1u);
    EXPECT_EQ(cut.trace.samples[0].press3, 0x1515);
}

TEST(LiveStreamLength, AMessageWaitingWhenTheStreamStopsIsTaken) {
    const std::vector<LiveSample> samples = {{3000, 310, 90, 205, 85, 0},
                                             {3100, 320, 91, 215, 86, 0}};
    const std::vector<uint8_t> bytes = Encode(samples, 11);
    StreamFixture f("20012345");
    f.Receive(bytes);
    ASSERT_EQ(f.trace.samples.size(), 1u);
    SwitchDynoLog(f.link);  // off: the last message is still on its way
    EXPECT_TRUE(LiveMessageWaiting(f.vars));
    LiveLineQuiet(f.link);
    EXPECT_EQ(f.trace.samples, samples);
    EXPECT_EQ(f.form.ControlByName(Ctl::LabelRPM).Caption(), "RPM: 3100");
    // Once a command is written nothing waits any more, and a quiet line takes nothing.
    f.Receive({bytes.begin(), bytes.begin() + 11});
    Download(f.link);
    EXPECT_FALSE(LiveMessageWaiting(f.vars));
    LiveLineQuiet(f.link);
    EXPECT_EQ(f.trace.samples.size(), 2u);
}

}  // namespace
