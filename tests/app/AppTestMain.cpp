// Runs the window tests inside one QApplication on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Backups of the simulated boxes go to a folder of the run's own, not the user's.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    // Settings the window remembers, too.
    qputenv("XDG_CONFIG_HOME", data.path().toLocal8Bit());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
