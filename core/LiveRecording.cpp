#include "LiveRecording.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

std::string LiveCsvRow(std::chrono::microseconds sinceStart, const LiveSample& sample,
                       int program) {
    const long long us = sinceStart.count() < 0 ? 0 : static_cast<long long>(sinceStart.count());
    char line[96];
    const int n = std::snprintf(line, sizeof line, "%lld.%06lld,%u,%u,%u,%u,%u,%u,%d", us / 1000000,
                                us % 1000000, unsigned{sample.rpm}, unsigned{sample.press1},
                                unsigned{sample.temp1}, unsigned{sample.press2},
                                unsigned{sample.temp2}, unsigned{sample.press3}, program);
    return std::string(line, n > 0 ? static_cast<size_t>(n) : 0);
}

namespace {

[[noreturn]] void Refuse(size_t line, const std::string& why) {
    throw LiveCsvError("line " + std::to_string(line) + ": " + why);
}

// Seconds as written: digits, optionally a point and up to six digits.
bool ParseSeconds(std::string_view field, std::chrono::microseconds& time) {
    const size_t point = field.find('.');
    const std::string_view whole = field.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : field.substr(point + 1);
    if (whole.empty() || whole.size() > 9 || fraction.size() > 6) return false;
    if (point != std::string_view::npos && fraction.empty()) return false;
    long long seconds = 0;
    long long micros = 0;
    for (const char ch : whole) {
        if (ch < '0' || ch > '9') return false;
        seconds = seconds * 10 + (ch - '0');
    }
    for (size_t k = 0; k < 6; ++k) {
        const char ch = k < fraction.size() ? fraction[k] : '0';
        if (ch < '0' || ch > '9') return false;
        micros = micros * 10 + (ch - '0');
    }
    time = std::chrono::microseconds(seconds * 1000000 + micros);
    return true;
}

bool ParseWhole(std::string_view field, unsigned max, unsigned& value) {
    if (field.empty() || field.size() > 5) return false;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    return error == std::errc() && end == field.data() + field.size() && value <= max;
}

}  // namespace

std::vector<LiveRecord> ParseLiveCsv(std::string_view text) {
    std::vector<LiveRecord> records;
    size_t number = 0;
    size_t blank = 0;  // the first of the blank lines since the last line with fields
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // Editors and scripts leave blank lines at the end; only there are they taken.
        if (number > 1 && line.find_first_not_of(" \t") == std::string_view::npos) {
            if (blank == 0) blank = number;
            continue;
        }
        if (blank != 0) Refuse(blank, "it is blank; only the end of the file may have blank lines");
        if (number == 1) {
            if (line != kLiveCsvHeader)
                Refuse(1, std::string("the first line must be \"") + kLiveCsvHeader + "\"");
            continue;
        }
        std::string_view fields[8];
        size_t count = 0;
        for (size_t start = 0;;) {
            const size_t comma = line.find(',', start);
            if (count < 8) fields[count] = line.substr(start, comma - start);
            ++count;
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
        if (count != 8) Refuse(number, "it has " + std::to_string(count) + " fields; a line has 8");
        LiveRecord record;
        if (!ParseSeconds(fields[0], record.time))
            Refuse(number, "\"" + std::string(fields[0]) + "\" is no time in seconds");
        if (!records.empty() && record.time < records.back().time)
            Refuse(number, "its time is before the line above's");
        unsigned values[7] = {};
        static const char* const kNames[7] = {"rpm",   "press1", "temp1",  "press2",
                                              "temp2", "press3", "program"};
        for (int k = 0; k < 7; ++k) {
            // The program is the byte the box reports, which may be above 9.
            const unsigned max = k == 6 ? 255 : 65535;
            if (!ParseWhole(fields[k + 1], max, values[k]))
                Refuse(number, std::string(kNames[k]) + " \"" + std::string(fields[k + 1]) +
                                   "\" is no whole number from 0 to " + std::to_string(max));
        }
        record.sample = {static_cast<uint16_t>(values[0]), static_cast<uint16_t>(values[1]),
                         static_cast<uint16_t>(values[2]), static_cast<uint16_t>(values[3]),
                         static_cast<uint16_t>(values[4]), static_cast<uint16_t>(values[5])};
        record.program = static_cast<int>(values[6]);
        records.push_back(record);
    }
    if (number == 0) Refuse(1, "the file is empty");
    return records;
}

uint16_t LiveChannel(const LiveSample& sample, int channel) {
    switch (channel) {
        case 0:
            return sample.rpm;
        case 1:
            return sample.press1;
        case 2:
            return sample.temp1;
        case 3:
            return sample.press2;
        case 4:
            return sample.temp2;
        default:
            return sample.press3;
    }
}

std::array<std::vector<TracePoint>, kLiveChannels> TraceEnvelope(
    std::span<const LiveRecord> records, double from, double to, int slices) {
    std::array<std::vector<TracePoint>, kLiveChannels> traces;
    if (slices <= 0 || !(to > from)) return traces;
    const auto seconds = [](const LiveRecord& r) {
        return static_cast<double>(r.time.count()) / 1e6;
    };
    auto first = std::lower_bound(records.begin(), records.end(), from,
                                  [&](const LiveRecord& r, double t) { return seconds(r) < t; });
    const double width = (to - from) / slices;
    for (auto& trace : traces) trace.reserve(static_cast<size_t>(slices) * 2);
    while (first != records.end() && seconds(*first) <= to) {
        const auto sliceOf = [&](const LiveRecord& r) {
            return std::min(slices - 1, static_cast<int>((seconds(r) - from) / width));
        };
        const int slice = sliceOf(*first);
        auto last = first + 1;
        while (last != records.end() && seconds(*last) <= to && sliceOf(*last) == slice) ++last;
        for (int c = 0; c < kLiveChannels; ++c) {
            const LiveRecord* low = &*first;
            const LiveRecord* high = &*first;
            for (auto r = first; r != last; ++r) {
                if (LiveChannel(r->sample, c) < LiveChannel(low->sample, c)) low = &*r;
                if (LiveChannel(r->sample, c) > LiveChannel(high->sample, c)) high = &*r;
            }
            const LiveRecord* earlier = low->time <= high->time ? low : high;
            const LiveRecord* later = earlier == low ? high : low;
            traces[static_cast<size_t>(c)].push_back(
                {seconds(*earlier), double(LiveChannel(earlier->sample, c))});
            if (later != earlier)
                traces[static_cast<size_t>(c)].push_back(
                    {seconds(*later), double(LiveChannel(later->sample, c))});
        }
        first = last;
    }
    return traces;
}

LiveCsvWriter::LiveCsvWriter(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr)
        throw LiveCsvError("Cannot write \"" + path + "\": " + std::strerror(errno) + ".");
    pending_ = std::string(kLiveCsvHeader) + "\n";
    thread_ = std::thread([this] { Run(); });
}

LiveCsvWriter::LiveCsvWriter(std::FILE* stream)
    : path_("standard output"), file_(stream), ownsFile_(false) {
    pending_ = std::string(kLiveCsvHeader) + "\n";
    thread_ = std::thread([this] { Run(); });
}

LiveCsvWriter::~LiveCsvWriter() {
    try {
        Close();
    } catch (const LiveCsvError&) {
        // Said by whoever closes on purpose; a writer dropped on the way out stays quiet.
    }
}

void LiveCsvWriter::Add(const LiveRecord& record) {
    const std::string row = LiveCsvRow(record.time, record.sample, record.program);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return;
        pending_ += row;
        pending_ += '\n';
        ++lines_;
        if (pending_.size() < 64 * 1024) return;
    }
    wake_.notify_one();
}

void LiveCsvWriter::Run() {
    std::string writing;
    for (;;) {
        bool last = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_for(lock, std::chrono::milliseconds(200),
                           [&] { return stop_ || pending_.size() >= 64 * 1024; });
            writing.swap(pending_);
            last = stop_;
        }
        if (!writing.empty() && error_.empty() &&
            std::fwrite(writing.data(), 1, writing.size(), file_) != writing.size())
            error_ = std::strerror(errno);
        writing.clear();
        if (last) return;
    }
}

uint64_t LiveCsvWriter::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return lines_;
        closed_ = true;
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
    const int finished = ownsFile_ ? std::fclose(file_) : std::fflush(file_);
    if (finished != 0 && error_.empty()) error_ = std::strerror(errno);
    file_ = nullptr;
    if (!error_.empty()) throw LiveCsvError("Cannot write \"" + path_ + "\": " + error_ + ".");
    return lines_;
}
