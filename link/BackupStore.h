#pragma once
// The backups of boxes, written before a send overwrites them: one tuning file each, named
// by the box's serial number and the time, in the user's data folder. The newest are kept.
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <vector>

class BackupStore {
  public:
    static constexpr int kKept = 100;

    // `corvane-zel/backups` in the user's data folder ($XDG_DATA_HOME when set).
    static QString Folder();
    // Writes `bytes` (a tuning file) as a backup of box `serial` and returns its path. Throws
    // FileError naming the reason.
    static QString Write(const QString& serial, const std::vector<uint8_t>& bytes);
    // Removes all but the newest kKept.
    static void Prune();

    struct Entry {
        QString path;
        QString serial;  // as the name gives it
        QDateTime time;  // when it was written
        char edition;    // '2' or '3', by its size
    };
    // Every backup of the folder that is a tuning file, newest first.
    static std::vector<Entry> List();
};
