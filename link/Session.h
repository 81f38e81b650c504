#pragma once
// The session as one value: the link's phase, the box behind the port as far as it is known,
// and where the tables came from. The connection holds it; the window draws every state of
// the link's controls and the status bar from it, in one place.
#include <QDateTime>
#include <QString>

#include "Link.h"

// Where the tables came from.
struct TablesOrigin {
    enum class Kind { None, Box, File, Restored };
    Kind kind = Kind::None;
    QString name;       // the box's serial number, or the file's name
    QDateTime when;     // when they were read, opened or sent
    bool sent = false;  // the tables are as a send wrote them to that box
    bool operator==(const TablesOrigin&) const = default;
};

struct SessionState {
    enum class Phase { Disconnected, Idle, Exchange, Streaming, Draining, WaitingForPort };
    Phase phase = Phase::Disconnected;
    QString port;       // as the user named it
    QString exchange;   // the exchange in progress: "Download", "Send", "Reading the box"
    QString step;       // what it waits for, as the messages say it ("the request for its maps")
    QString boxSerial;  // the box behind the port as far as read; empty while unknown
    bool halfWritten = false;
    LinkButtons buttons{false, false, false};
    QString status;  // the connection's line
    TablesOrigin origin;
    int changes = 0;  // values of the tables changed since they came and not sent
    bool operator==(const SessionState& other) const;
};

// The box and its edition as the status bar shows them: "box 31234567 (3 channels)", or
// "box not read yet".
QString BoxText(const QString& serial);
// Where the tables stand: "From box 31234567, 3 changes not sent", "From file tune.bin, not
// sent", "As sent to box 31234567 at 14:25", "Restored, 3 changes not sent".
QString OriginText(const TablesOrigin& origin, int changes);
