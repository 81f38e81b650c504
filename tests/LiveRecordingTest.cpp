#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "LiveRecording.h"
#include "TestSupport.h"

namespace {

using std::chrono::microseconds;

std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<LiveRecord> SomeRecords(size_t count) {
    std::vector<LiveRecord> records;
    for (size_t k = 0; k < count; ++k) {
        const auto v = static_cast<uint16_t>(k * 7919 % 65536);
        records.push_back({microseconds(static_cast<long long>(k) * 1129 + (k == 3 ? 999999 : 0)),
                           {v, static_cast<uint16_t>(65535 - v), 90, static_cast<uint16_t>(k), 0,
                            static_cast<uint16_t>(k % 2 ? 65535 : 0)},
                           static_cast<int>(k % 256)});
        if (k > 3) records.back().time += microseconds(999999);
    }
    return records;
}

TEST(LiveRecording, WrittenOnItsOwnThreadAndReadBackWhole) {
    TempDir dir;
    const std::string path = dir / "run.csv";
    const std::vector<LiveRecord> records = SomeRecords(50000);
    {
        LiveCsvWriter writer(path);
        for (const LiveRecord& record : records) writer.Add(record);
        EXPECT_EQ(writer.Close(), records.size());
        writer.Add(records[0]);  // after the close: nothing
    }
    const std::string text = ReadText(path);
    EXPECT_EQ(text.substr(0, text.find('\n')), kLiveCsvHeader);
    EXPECT_EQ(ParseLiveCsv(text), records);
    EXPECT_NE(text.find("\n0.001129,"), std::string::npos) << "microseconds, six digits";

    // A recording that ends with no line end, with CR LF, or holds only its header.
    EXPECT_EQ(ParseLiveCsv(std::string(kLiveCsvHeader) + "\r\n1.5,1,2,3,4,5,6,7").size(), 1u);
    EXPECT_EQ(ParseLiveCsv(std::string(kLiveCsvHeader) + "\n1.5,1,2,3,4,5,6,7\n")[0].time,
              microseconds(1500000));
    EXPECT_TRUE(ParseLiveCsv(kLiveCsvHeader).empty());
    // Blank lines at the end, as editors and scripts leave them.
    for (const char* end : {"\n", "\n\n", "\r\n\r\n\r\n", "\n \t\n"}) {
        const std::string text =
            std::string(kLiveCsvHeader) + "\n1.5,1,2,3,4,5,6,7\n2,1,2,3,4,5,6,200" + end;
        const std::vector<LiveRecord> read = ParseLiveCsv(text);
        ASSERT_EQ(read.size(), 2u) << text;
        EXPECT_EQ(read[1].program, 200);
    }
}

TEST(LiveRecording, AFileThatCannotBeWrittenIsSaid) {
    TempDir dir;
    EXPECT_THROW(LiveCsvWriter((dir / "no/such/folder/run.csv")), LiveCsvError);
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full to fill";
    LiveCsvWriter full("/dev/full");
    for (const LiveRecord& record : SomeRecords(20000)) full.Add(record);
    EXPECT_THROW(full.Close(), LiveCsvError);
}

TEST(LiveRecording, AMalformedLineIsNamed) {
    const std::string header = std::string(kLiveCsvHeader) + "\n";
    const std::string good = "0.000100,3000,310,90,205,85,0,4\n";
    const struct {
        std::string text;
        const char* says;
    } rows[] = {
        {"", "line 1: the file is empty"},
        {"time,rpm\n" + good, "line 1: the first line must be"},
        {header + good + "0.2,3000,310,90,205,85,4\n", "line 3: it has 7 fields; a line has 8"},
        {header + good + "0.2,3000,310,90,205,85,0,4,9\n", "line 3: it has 9 fields"},
        {header + good + "\n" + good, "line 3: it is blank; only the end of the file"},
        {header + good + "\r\n \r\n" + good + "\n\n", "line 3: it is blank"},
        {header + "-1,3000,310,90,205,85,0,4\n", "line 2: \"-1\" is no time in seconds"},
        {header + "0.1234567,3000,310,90,205,85,0,4\n", "line 2: \"0.1234567\" is no time"},
        {header + "1.,3000,310,90,205,85,0,4\n", "line 2: \"1.\" is no time"},
        {header + "1,3000,310,90,205,85,0,4\n0.5,3000,310,90,205,85,0,4\n",
         "line 3: its time is before the line above's"},
        {header + "1,65536,310,90,205,85,0,4\n", "line 2: rpm \"65536\" is no whole number"},
        {header + "1,3000,31a,90,205,85,0,4\n", "line 2: press1 \"31a\" is no whole number"},
        {header + "1,3000,310,90,205,85,,4\n", "line 2: press3 \"\" is no whole number"},
        {header + "1,3000,310,90,205,85,0,256\n",
         "line 2: program \"256\" is no whole number from 0 to 255"},
        {header + "1,3000,310,90,205,85,0,-1\n", "line 2: program \"-1\" is no whole number"},
    };
    for (const auto& row : rows) {
        try {
            ParseLiveCsv(row.text);
            ADD_FAILURE() << "taken: " << row.text;
        } catch (const LiveCsvError& error) {
            EXPECT_NE(std::string(error.what()).find(row.says), std::string::npos)
                << error.what() << "\nwanted: " << row.says;
        }
    }
}

TEST(LiveRecording, TheEnvelopeKeepsEveryPeakWithinItsPoints) {
    // 60 s at 900 messages a second, a spike in one message only.
    std::vector<LiveRecord> records;
    for (int k = 0; k < 54000; ++k) {
        LiveRecord r;
        r.time = microseconds(k * 1111);
        r.sample.rpm = static_cast<uint16_t>(3000 + k % 100);
        r.sample.press2 = k == 31337 ? 4000 : 200;
        records.push_back(r);
    }
    const auto traces = TraceEnvelope(records, 0, 60, 500);
    for (const auto& trace : traces) {
        EXPECT_LE(trace.size(), 1000u);
        EXPECT_GE(trace.size(), 500u);
        for (size_t k = 1; k < trace.size(); ++k) EXPECT_LE(trace[k - 1].t, trace[k].t);
    }
    double highest = 0;
    for (const TracePoint& p : traces[3]) highest = std::max(highest, p.v);
    EXPECT_EQ(highest, 4000);
    EXPECT_DOUBLE_EQ(traces[0].front().t, 0);
    // Only what lies in the range, and nothing for an empty one.
    const auto part = TraceEnvelope(records, 10, 20, 100);
    EXPECT_GE(part[0].front().t, 10);
    EXPECT_LE(part[0].back().t, 20);
    EXPECT_TRUE(TraceEnvelope(records, 70, 80, 100)[0].empty());
    // Slices whose ends round below a record's time (10 ms steps over 100 s in 352 slices).
    std::vector<LiveRecord> steps(10001);
    for (size_t k = 0; k < steps.size(); ++k) {
        steps[k].time = microseconds(k * 10000);
        steps[k].sample.rpm = static_cast<uint16_t>(k);
    }
    for (const int slices : {352, 333, 7, 1}) {
        const auto drawn = TraceEnvelope(steps, 0, 100, slices);
        EXPECT_LE(drawn[0].size(), 2u * slices);
        EXPECT_EQ(drawn[0].back().t, 100);
    }
    EXPECT_TRUE(TraceEnvelope(records, 20, 10, 100)[0].empty());
}

}  // namespace
