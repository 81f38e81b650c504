#pragma once
// Inputs the fuzz targets start from: recorded box sessions for the assembler and tuning
// files of both layouts. Made here rather than kept as binary files, so that they follow
// the protocol header when it changes.
#include <cstdint>
#include <string>
#include <vector>

struct FuzzSeed {
    std::string name;
    std::vector<uint8_t> bytes;
};

// The starting states of an assembler input, chosen by its second byte (see Harness.h).
enum class AssemblerStart : uint8_t {
    Idle = 0,
    DownloadAsked = 1,
    SerialSent = 2,     // send chain: the serial number's ACK is awaited
    ImageSent = 3,      // the image upload's ACK
    ConfigSent = 4,     // the configuration's ACK
    StartTimeSent = 5,  // the start time's ACK
    ProgramSelected = 6,
    LiveStream = 7,
};

enum class SeedEdition : uint8_t { Two = 0, Three = 1, None = 2, Unknown = 3 };

// The second input byte for a start, an edition and the optional fixture details.
uint8_t AssemblerStartByte(AssemblerStart start, SeedEdition edition, bool poisonedCell = false,
                           bool emptyStartTime = false, bool servicePage = false);

// The box's program image of an edition ('2' or '3'): patterned values, with the RPM row of
// P1's CH1 table rising from 1000 to 8500 in steps of 500.
std::vector<uint8_t> MakeBoxImage(char edition);
// What a box of the edition answers to the whole download chain, responses back to back.
std::vector<uint8_t> DownloadSession(char edition);
// A live message with the given readings.
std::vector<uint8_t> LiveMessage(uint16_t rpm, uint16_t press1, uint16_t temp1, uint16_t press2,
                                 uint16_t temp2, uint16_t press3);

std::vector<FuzzSeed> AssemblerSeeds();
std::vector<FuzzSeed> TuningFileSeeds();
