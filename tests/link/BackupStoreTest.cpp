// The store of backups: written whole, listed newest first with their box and edition,
// pruned to the newest.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "BackupStore.h"
#include "TuningFile.h"

namespace {

class BackupStoreTest : public testing::Test {
  protected:
    void SetUp() override {
        previous_ = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", data_.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_DATA_HOME", previous_); }
    // A file in the folder, as if written at `stamp`.
    static void Put(const QString& name, size_t size) {
        QDir().mkpath(BackupStore::Folder());
        QFile file(BackupStore::Folder() + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(static_cast<qsizetype>(size), '\0'));
    }

    QTemporaryDir data_;
    QByteArray previous_;
};

TEST_F(BackupStoreTest, ListsTheTuningFilesNewestFirstWithTheirBoxAndEdition) {
    EXPECT_TRUE(BackupStore::Folder().startsWith(data_.path()));
    Put("30012345-20261201-080000.bin", kTuningFileSize3);
    Put("20054321-20261203-091500.bin", kTuningFileSize2);
    Put("30012345-20261203-091500-2.bin", kTuningFileSize3);
    Put("notes.bin", 12);  // no tuning file
    const QString written =
        BackupStore::Write("31234567", std::vector<uint8_t>(kTuningFileSize3, 7));
    EXPECT_TRUE(QFile::exists(written));
    const std::vector<BackupStore::Entry> entries = BackupStore::List();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].path, written) << "written just now";
    EXPECT_EQ(entries[0].serial, "31234567");
    EXPECT_EQ(entries[0].edition, '3');
    EXPECT_EQ(entries[1].time, entries[2].time);
    EXPECT_EQ(entries[3].serial, "30012345");
    EXPECT_EQ(entries[3].time.toString("yyyy-MM-dd HH:mm"), "2026-12-01 08:00");
    EXPECT_EQ(entries[1].edition == '2' ? entries[1].serial : entries[2].serial, "20054321");
}

TEST_F(BackupStoreTest, PruneKeepsTheNewest) {
    for (int k = 0; k < BackupStore::kKept + 3; ++k)
        Put(QStringLiteral("30012345-20260101-%1.bin").arg(100000 + k), kTuningFileSize3);
    BackupStore::Prune();
    EXPECT_EQ(QDir(BackupStore::Folder()).entryList({"*.bin"}).size(), BackupStore::kKept);
}

}  // namespace
