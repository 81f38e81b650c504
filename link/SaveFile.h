#pragma once
// Files the tool writes: replaced only once every byte is on disk.
#include <QString>
#include <cstdint>
#include <vector>

// Throws FileError naming the file and the reason; a failed save leaves the old file.
void SaveFileAtomically(const QString& name, const std::vector<uint8_t>& bytes);
