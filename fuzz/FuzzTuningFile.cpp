#include <cstddef>
#include <cstdint>

#include "Harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RunTuningFileInput(data, size);
    return 0;
}
