#include "SaveFile.h"

#include <QSaveFile>

#include "TuningFile.h"

void SaveFileAtomically(const QString& name, const std::vector<uint8_t>& bytes) {
    QSaveFile file(name);
    const auto fail = [&](const QString& reason) {
        file.cancelWriting();
        throw FileError(QStringLiteral("Cannot save \"%1\": %2").arg(name, reason).toStdString());
    };
    // Unbuffered, so that a write the disk refuses (full, or over the size limit) shows at
    // the write itself instead of being lost in the final flush.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) fail(file.errorString());
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(reinterpret_cast<const char*>(bytes.data()), size) != size) {
        fail(file.errorString());
    }
    if (!file.flush()) fail(file.errorString());
    if (!file.commit()) fail(file.errorString());
}
