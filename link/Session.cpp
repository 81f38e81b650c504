#include "Session.h"

bool SessionState::operator==(const SessionState& other) const {
    return phase == other.phase && port == other.port && exchange == other.exchange &&
           step == other.step && boxSerial == other.boxSerial && halfWritten == other.halfWritten &&
           buttons.download == other.buttons.download && buttons.send == other.buttons.send &&
           buttons.dynoLog == other.buttons.dynoLog && status == other.status &&
           origin == other.origin && changes == other.changes;
}

QString BoxText(const QString& serial) {
    if (serial.isEmpty()) return QStringLiteral("box not read yet");
    const char edition = EditionOf(serial.toStdString());
    if (edition == '\0') return QStringLiteral("box %1").arg(serial);
    return QStringLiteral("box %1 (%2 channels)").arg(serial).arg(QLatin1Char(edition));
}

QString OriginText(const TablesOrigin& origin, int changes) {
    const QString counted = changes == 1 ? QStringLiteral("1 change not sent")
                                         : QStringLiteral("%1 changes not sent").arg(changes);
    switch (origin.kind) {
        case TablesOrigin::Kind::Box:
            if (origin.sent && changes == 0) {
                return QStringLiteral("As sent to box %1 at %2")
                    .arg(origin.name, origin.when.toString(QStringLiteral("HH:mm")));
            }
            return changes == 0 ? QStringLiteral("From box %1").arg(origin.name)
                                : QStringLiteral("From box %1, %2").arg(origin.name, counted);
        case TablesOrigin::Kind::File:
            return changes == 0 ? QStringLiteral("From file %1, not sent").arg(origin.name)
                                : QStringLiteral("From file %1, %2").arg(origin.name, counted);
        case TablesOrigin::Kind::Restored:
            return QStringLiteral("Restored, %1").arg(counted);
        case TablesOrigin::Kind::None:
            break;
    }
    return changes == 0 ? QString() : counted;
}
