#pragma once
// The recovery file: the tables, the settings and where they came from, saved while there are
// changes neither sent nor saved, so that they outlive the tool or the machine ending without
// warning. A clean exit removes it; the next start after an unclean one offers it back.
#include <QDateTime>
#include <QString>
#include <array>
#include <optional>
#include <vector>

#include "Session.h"

struct RecoveryState {
    struct Table {
        QString name;
        std::vector<QString> texts;     // row by row
        std::vector<QString> baseline;  // the texts the table came with; empty for none
    };
    std::vector<Table> tables;
    std::array<QString, 3> settings;  // serial number field, start time, pedal response index
    std::optional<std::array<QString, 3>> settingsBaseline;
    TablesOrigin origin;
    int changes = 0;
    QDateTime lastChange;
};

class RecoveryStore {
  public:
    // `corvane-zel/recovery.json` in the user's data folder ($XDG_DATA_HOME when set).
    static QString Path();
    // Written whole or not at all; throws FileError.
    static void Write(const RecoveryState& state);
    // The state saved, if there is a readable one.
    static std::optional<RecoveryState> Read();
    static void Remove();
};
