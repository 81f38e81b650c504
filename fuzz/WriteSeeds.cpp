// Writes the seed corpus: FOLDER/assembler/* and FOLDER/tuning_file/*, one input a file.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "Seeds.h"

namespace fs = std::filesystem;

namespace {
bool WriteAll(const fs::path& folder, const std::vector<FuzzSeed>& seeds) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return false;
    for (const FuzzSeed& seed : seeds) {
        std::ofstream file(folder / seed.name, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(seed.bytes.data()),
                   static_cast<std::streamsize>(seed.bytes.size()));
        if (!file.flush()) return false;
    }
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const fs::path folder = argv[1];
    if (!WriteAll(folder / "assembler", AssemblerSeeds()) ||
        !WriteAll(folder / "tuning_file", TuningFileSeeds())) {
        std::fprintf(stderr, "cannot write the seeds under %s\n", argv[1]);
        return 1;
    }
    return 0;
}
