#pragma once
// A recording of the live stream as CSV: a header line, then one line per live message with
// the time since the recording started (seconds with microseconds), the six readings and
// the program the box ran.
#include <chrono>
#include <string>

#include "Protocol.h"

constexpr const char* kLiveCsvHeader = "seconds,rpm,press1,temp1,press2,temp2,press3,program";

// One line without its line end, e.g. "12.000250,3000,310,90,205,85,0,4".
std::string LiveCsvRow(std::chrono::microseconds sinceStart, const LiveSample& sample, int program);
