// The real tool in a real X session: started with the simulated box listed first, driven
// by a real pointer (xdotool) at the places the window's layout gives its controls.
// Needs DISPLAY (the e2e script starts Xvfb) and xdotool; skipped without them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>
#include <chrono>
#include <filesystem>
#include <functional>

#include "BoxSimulator.h"

namespace {

using namespace std::chrono_literals;

QString Run(const QString& program, const QStringList& args, int timeoutMs = 10000) {
    QProcess process;
    process.start(program, args);
    process.waitForFinished(timeoutMs);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString XDoTool(const QStringList& args) {
    return Run(QStringLiteral("xdotool"), args);
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (done()) return true;
        QThread::msleep(20);
    }
    return done();
}

class EndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) GTEST_SKIP() << "no display";
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            GTEST_SKIP() << "xdotool is not installed";
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "e2e-XXXXXX").string();
        folder_ = QString::fromLocal8Bit(mkdtemp(pattern.data()));
    }
    void TearDown() override {
        if (tool_.state() != QProcess::NotRunning) {
            tool_.kill();
            tool_.waitForFinished(5000);
        }
        if (box_) box_->Stop();
        if (!folder_.isEmpty()) QDir(folder_).removeRecursively();
    }

    // Moves the pointer to (x, y) of the window's content and clicks there.
    void Click(int x, int y) {
        XDoTool(
            {"mousemove", "--sync", QString::number(originX_ + x), QString::number(originY_ + y)});
        XDoTool({"click", "1"});
        QThread::msleep(150);
    }

    std::unique_ptr<BoxSimulator> box_;
    QProcess tool_;
    QString folder_;
    int originX_ = 0;
    int originY_ = 0;
};

TEST_F(EndToEnd, ConnectDownloadAndSaveWithARealPointer) {
    box_ = std::make_unique<BoxSimulator>();
    ASSERT_TRUE(box_->Start()) << box_->LastError();
    const QString port = QString::fromStdString(box_->PortPath());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // The backup before the send goes to the test's own folder.
    env.insert(QStringLiteral("XDG_DATA_HOME"), folder_);
    tool_.setProcessEnvironment(env);
    tool_.setWorkingDirectory(folder_);
    tool_.start(QStringLiteral(TOOL_PROGRAM), {QStringLiteral("--port"), port});
    ASSERT_TRUE(tool_.waitForStarted(10000));

    // The window, and the place of its content on the screen.
    const QString window =
        XDoTool({"search", "--sync", "--onlyvisible", "--name", "^Corvane Zel V1.32b$"})
            .section('\n', 0, 0);
    ASSERT_FALSE(window.isEmpty());
    XDoTool({"windowmove", "--sync", window, "0", "0"});
    XDoTool({"windowactivate", "--sync", window});
    const QString geometry = XDoTool({"getwindowgeometry", "--shell", window});
    for (const QString& line : geometry.split('\n')) {
        if (line.startsWith("X=")) originX_ = line.mid(2).toInt();
        if (line.startsWith("Y=")) originY_ = line.mid(2).toInt();
    }
    QThread::msleep(500);

    // Pick the first port of the list: the simulated box.
    Click(8 + 81 - 8, 111 + 10);  // the list's arrow
    Click(8 + 30, 111 + 21 + 9);  // its first entry, just below
    Click(8 + 40, 8 + 48);        // "Connect"
    Click(8 + 40, 152 + 12);      // "Download"

    const auto download = DownloadChain('3');
    const std::vector<uint8_t> chain(download.begin(), download.end());
    ASSERT_TRUE(WaitFor([&] { return box_->Received().size() >= chain.size(); }, 10000))
        << "the box received " << box_->Received().size() << " commands";
    std::vector<uint8_t> codes;
    for (const ReceivedCommand& command : box_->Received()) codes.push_back(command.code);
    EXPECT_EQ(codes, chain);
    QThread::msleep(500);  // the SENT data's answer

    // A picture of the screen as the test's artifact.
    const QString shot = QStringLiteral(ARTIFACT_DIR "/e2e-screenshot.png");
    QGuiApplication::primaryScreen()->grabWindow(0).save(shot);
    std::printf("screenshot: %s\n", qPrintable(shot));

    // "Save file", then the name typed into the dialog: the file holds what the box sent.
    Click(182 + 40, 8 + 48);
    QThread::msleep(800);
    const QString saved = folder_ + QStringLiteral("/e2e");
    XDoTool({"type", "--delay", "5", saved});
    XDoTool({"key", "Return"});
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(saved + ".bin"); }, 5000));
    QThread::msleep(200);
    QFile file(saved + ".bin");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    ASSERT_EQ(bytes.size(), 3776);
    const BoxContents contents = box_->Contents();
    const std::vector<uint8_t> image = contents.EditionImage();
    EXPECT_EQ(
        QByteArray(reinterpret_cast<const char*>(image.data()), static_cast<int>(image.size())),
        bytes.left(3744))
        << "every table cell as the box holds it";
    for (int k = 0; k < 16; ++k) {
        const int value = (static_cast<uint8_t>(bytes[3744 + 2 * k]) << 8) |
                          static_cast<uint8_t>(bytes[3745 + 2 * k]);
        EXPECT_EQ(value, contents.config[k]) << "configuration value " << k;
    }

    // A box that stores one byte of the image wrongly: "Send" ends with the verify list.
    BoxSimFaults wrong;
    wrong.wrongImageByte = 69;
    box_->SetFaults(wrong);
    box_->ClearLogs();
    Click(95 + 40, 152 + 12);  // "Send"
    const auto send = SendChain('3');
    ASSERT_TRUE(WaitFor([&] { return box_->Received().size() >= send.size(); }, 10000))
        << "the box received " << box_->Received().size() << " commands of the send";
    const QString verify =
        XDoTool({"search", "--sync", "--onlyvisible", "--name", "^Verify failed$"})
            .section('\n', 0, 0);
    EXPECT_FALSE(verify.isEmpty()) << "no \"Verify failed\" message box";
    QThread::msleep(300);
    const QString verifyShot = QStringLiteral(ARTIFACT_DIR "/e2e-verify-failed.png");
    QGuiApplication::primaryScreen()->grabWindow(0).save(verifyShot);
    std::printf("screenshot: %s\n", qPrintable(verifyShot));
    EXPECT_EQ(QDir(folder_ + "/corvane-zel/backups").entryList({"30012345-*.bin"}).size(), 1)
        << "the backup before the send";
}

}  // namespace

int main(int argc, char** argv) {
    // This process only looks at the screen; without a display it runs no Qt at all.
    testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("DISPLAY")) return RUN_ALL_TESTS();
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
