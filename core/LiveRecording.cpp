#include "LiveRecording.h"

#include <cstdio>

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
