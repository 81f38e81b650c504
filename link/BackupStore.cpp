#include "BackupStore.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>

#include "SaveFile.h"
#include "TuningFile.h"

QString BackupStore::Folder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/corvane-zel/backups");
}

QString BackupStore::Write(const QString& serial, const std::vector<uint8_t>& bytes) {
    const QString folder = Folder();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = QStringLiteral("%1/%2-%3.bin").arg(folder, serial, stamp);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = QStringLiteral("%1/%2-%3-%4.bin").arg(folder, serial, stamp).arg(n);
    if (!QDir().mkpath(folder))
        throw FileError("the folder " + folder.toStdString() + " cannot be made");
    SaveFileAtomically(path, bytes);
    return path;
}

void BackupStore::Prune() {
    // The names sort by box and time, so the age comes from the files.
    const QFileInfoList backups =
        QDir(Folder()).entryInfoList({QStringLiteral("*.bin")}, QDir::Files, QDir::Time);
    for (qsizetype k = kKept; k < backups.size(); ++k) QFile::remove(backups[k].filePath());
}

std::vector<BackupStore::Entry> BackupStore::List() {
    static const QRegularExpression kName(QStringLiteral("^(.+)-(\\d{8}-\\d{6})(-\\d+)?\\.bin$"));
    std::vector<Entry> entries;
    for (const QFileInfo& file :
         QDir(Folder()).entryInfoList({QStringLiteral("*.bin")}, QDir::Files)) {
        const qint64 size = file.size();
        if (size != static_cast<qint64>(kTuningFileSize3) &&
            size != static_cast<qint64>(kTuningFileSize2))
            continue;
        Entry entry{file.absoluteFilePath(), file.completeBaseName(), file.lastModified(),
                    size == static_cast<qint64>(kTuningFileSize3) ? '3' : '2'};
        if (const QRegularExpressionMatch match = kName.match(file.fileName()); match.hasMatch()) {
            entry.serial = match.captured(1);
            const QDateTime named =
                QDateTime::fromString(match.captured(2), QStringLiteral("yyyyMMdd-HHmmss"));
            if (named.isValid()) entry.time = named;
        }
        entries.push_back(entry);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.time > b.time; });
    return entries;
}
