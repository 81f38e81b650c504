#pragma once
// A recording of the live stream as CSV: a header line, then one line per live message with
// the time since the recording started (seconds with microseconds), the six readings and
// the program the box ran. Written by the command line's "live --csv" and the live graph's
// "Record…", read back by the graph's "Open recording…".
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Protocol.h"

constexpr const char* kLiveCsvHeader = "seconds,rpm,press1,temp1,press2,temp2,press3,program";

// One live message of a recording.
struct LiveRecord {
    std::chrono::microseconds time{0};  // since the recording started
    LiveSample sample;
    int program = 0;

    bool operator==(const LiveRecord&) const = default;
};

// One line without its line end, e.g. "12.000250,3000,310,90,205,85,0,4".
std::string LiveCsvRow(std::chrono::microseconds sinceStart, const LiveSample& sample, int program);

// Text that is not a recording; the message names the line ("line 7: ...").
class LiveCsvError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads a whole recording: the header line, then lines of a time (seconds, not going back),
// six readings 0..65535 and a program 0..255 (the running program as the box reports it). A
// line end of CR LF is taken too; the last line may lack its line end, and blank lines at the
// end are passed over. Throws LiveCsvError at the first line that does not fit.
std::vector<LiveRecord> ParseLiveCsv(std::string_view text);

// The readings of a record by channel: 0 rpm, 1 press1, 2 temp1, 3 press2, 4 temp2, 5 press3.
constexpr int kLiveChannels = 6;
uint16_t LiveChannel(const LiveSample& sample, int channel);

// A point of a drawn trace: seconds and value.
struct TracePoint {
    double t;
    double v;
};

// What a strip chart draws of the records between `from` and `to` seconds (records in time
// order): for each channel, the lowest and the highest value of each of `slices` equal
// slices of that time, in the order they came; empty slices give nothing. However many
// records there are, a channel has at most 2 × slices points, and no peak is lost.
std::array<std::vector<TracePoint>, kLiveChannels> TraceEnvelope(
    std::span<const LiveRecord> records, double from, double to, int slices);

// Writes a recording on a thread of its own, so that the caller only ever formats a line
// into memory: a slow disk never holds up the caller. Lines leave in the order they came.
class LiveCsvWriter {
  public:
    // Creates (or empties) the file and writes the header; throws LiveCsvError with the
    // reason when the file cannot be written.
    explicit LiveCsvWriter(const std::string& path);
    // Writes into a stream that stays open (standard output); Close flushes it.
    explicit LiveCsvWriter(std::FILE* stream);
    // Finishes the file (Close) if that was not done.
    ~LiveCsvWriter();
    LiveCsvWriter(const LiveCsvWriter&) = delete;
    LiveCsvWriter& operator=(const LiveCsvWriter&) = delete;

    void Add(const LiveRecord& record);
    // Writes what is left, closes the file and returns how many lines it holds after the
    // header; throws LiveCsvError when a write failed on the way. Later calls return the
    // same count.
    uint64_t Close();
    uint64_t Lines() const { return lines_; }

  private:
    void Run();

    std::string path_;
    std::FILE* file_ = nullptr;
    bool ownsFile_ = true;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::string pending_;
    bool stop_ = false;
    bool closed_ = false;
    std::string error_;
    uint64_t lines_ = 0;
    std::thread thread_;
};
