#pragma once
// The fuzz targets' work, in plain C++ on core alone, so that the GoogleTest suite can
// replay saved inputs through the same code.
//
// An assembler input: byte 0 picks the chunk size (1 + byte % 64); byte 1 picks the state
// the window is in when the bytes arrive (bits 0-2: AssemblerStart; bits 3-4: SeedEdition;
// bit 5: a P1 CH1 RPM cell holds a text that is no number; bit 6: the start-time box is
// empty; bit 7: the Service page is shown); the rest is what the box sends, handed to
// ReceiveBytes chunk by chunk. The tool's writes go to a port in memory that never answers.
//
// A tuning file input is the whole content of a file handed to LoadTuningFile.
//
// ConversionError, LinkError and FileError are outcomes the window shows to the user; any
// other exception and every broken invariant is a fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AssemblerOutcome {
    std::string fault;              // empty while every invariant holds
    std::vector<uint8_t> commands;  // the code of each command written while the input was fed
    uint64_t liveMessages = 0;      // live messages handled while the input was fed
};

AssemblerOutcome ReplayAssemblerInput(const uint8_t* data, size_t size);
// The fault, or empty.
std::string ReplayTuningFileInput(const uint8_t* data, size_t size);

// The same, printing the fault and aborting, as a fuzz target must.
void RunAssemblerInput(const uint8_t* data, size_t size);
void RunTuningFileInput(const uint8_t* data, size_t size);
