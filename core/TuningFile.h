#pragma once
// The .bin tuning file: the box image followed by the configuration row, no header.
// Its size alone tells the layout: 3776 bytes (3 channels) or 2305 bytes (2 channels).
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Controls.h"
#include "Variables.h"

constexpr size_t kTuningFileSize3 = 3776;
constexpr size_t kTuningFileSize2 = 2305;

// A file that could not be opened or saved; the message names the file and the reason.
class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads the file into RxBuffer from byte 1 on and decodes it into the tables (and the
// configuration row); returns the file's edition, '2' or '3'. A 2-channel file holds no CH3
// and FUEL%: their cells become "0". A file that is not a regular readable file of one of
// the two sizes changes nothing and throws FileError.
char LoadTuningFile(FormControls& form, Variables& vars, const std::string& path);

// Decodes a tuning file's bytes (of either size; others change nothing) into the tables, as
// LoadTuningFile does once it has read them.
void DecodeTuningFile(FormControls& form, Variables& vars, const std::vector<uint8_t>& bytes);

// A value of the tables that differs from a tuning file: its place and the file's text.
// `program` 1..9 names a program table; 0 the configuration row.
struct FileDifference {
    int program;
    ProgramTable table;
    int col;
    int row;
    std::string fileText;
    bool differs = true;
};

// The values of the tables that differ from the file at `path`, which is checked as
// LoadTuningFile checks it. A file of the other edition than `edition` ('2' or '3'; any
// other value takes either) throws FileError. The tables do not change. With `everyCell`,
// every cell comes back, `differs` telling those that differ.
std::vector<FileDifference> CompareWithTuningFile(FormControls& form, char edition,
                                                  const std::string& path, bool everyCell = false);

// The file bytes for the tables in the layout of the given edition; empty when the edition
// is neither '2' nor '3'. Throws ConversionError for a cell that is not an integer.
std::vector<uint8_t> EncodeTuningFile(FormControls& form, char edition);

// The name to save under: ".bin" is added unless the name already ends in it (any case).
std::string TuningFileName(const std::string& chosen);

bool HasTuningFileExtension(const std::string& name);

// The names (without folder) of the .bin files in a folder, in case-insensitive order.
std::vector<std::string> ListTuningFiles(const std::string& folder);
