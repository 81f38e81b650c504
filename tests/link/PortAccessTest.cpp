// A port whose device file keeps the user out says how to be let in. File modes do not stop
// root, so under root the test runs itself again as the unprivileged user "nobody" against a
// device owned by root and the group "dialout", as a USB serial adapter is on Debian.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <memory>

#include "BoxSimulator.h"
#include "TApdComPort.h"

namespace {

// Set for the run as "nobody": the device to try.
constexpr const char* kDeviceVariable = "PORT_ACCESS_DEVICE";

QString OpenFailureOf(const QString& device) {
    TApdComPort port;
    port.SetPortName(device);
    try {
        port.SetOpen(true);
    } catch (const LinkError& error) {
        return QString::fromStdString(error.what());
    }
    return QStringLiteral("(opened)");
}

TEST(PortAccess, ADeniedDeviceNamesItsGroupAndHowToJoinIt) {
    QString device = qEnvironmentVariable(kDeviceVariable);
    BoxSimOptions options;
    options.pacing = false;
    BoxSimulator box(options);
    if (device.isEmpty()) {
        ASSERT_TRUE(box.Start()) << box.LastError();
        device = QString::fromStdString(box.PortPath());
        const QByteArray path = device.toLocal8Bit();
        if (geteuid() == 0) {
            const group* dialout = getgrnam("dialout");
            const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (dialout == nullptr || setpriv.isEmpty())
                GTEST_SKIP() << "runs as root, whom file modes do not stop, and the group "
                                "dialout or setpriv (util-linux) is missing to try as another user";
            ASSERT_EQ(chown(path.constData(), 0, dialout->gr_gid), 0);
            ASSERT_EQ(chmod(path.constData(), 0660), 0);
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QString::fromLatin1(kDeviceVariable), device);
            child.setProcessEnvironment(environment);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(setpriv,
                        {"--reuid=65534", "--regid=65534", "--clear-groups",
                         QCoreApplication::applicationFilePath(),
                         "--gtest_filter=PortAccess.ADeniedDeviceNamesItsGroupAndHowToJoinIt"});
            ASSERT_TRUE(child.waitForFinished(30000));
            const QString output = QString::fromLocal8Bit(child.readAll());
            if (output.contains(QStringLiteral("failed to execute")))
                GTEST_SKIP() << "runs as root, and the user nobody cannot run this test's "
                                "program from its folder: "
                             << output.toStdString();
            EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
            EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test")))
                << output.toStdString();
            return;
        }
        // This user owns the pseudo-terminal: keep the owner out and let its group in.
        ASSERT_EQ(chmod(path.constData(), 0060), 0);
    }

    const QString group = QFileInfo(device).group();
    const QString message = OpenFailureOf(device);
    SCOPED_TRACE(message.toStdString());
    // The message of any permission error, as before, and then the way in.
    EXPECT_TRUE(message.startsWith(QStringLiteral("Cannot open port \"%1\": the port is in use by "
                                                  "another program, or access to it is not "
                                                  "allowed (")
                                       .arg(device)));
    EXPECT_TRUE(message.contains(
        QStringLiteral("must be a member of the group \"%1\": run \"sudo usermod -aG %1 $USER\"")
            .arg(group)));
    EXPECT_TRUE(message.endsWith(QStringLiteral("then log out and log in again.")));
    if (!qEnvironmentVariableIsEmpty(kDeviceVariable)) {
        EXPECT_EQ(group, QStringLiteral("dialout"));
    }
}

// A port that lets the user in but is held by another program keeps its message alone.
TEST(PortAccess, APortHeldByAnotherGivesNoAccessHint) {
    BoxSimOptions options;
    options.pacing = false;
    BoxSimulator box(options);
    ASSERT_TRUE(box.Start()) << box.LastError();
    const QString device = QString::fromStdString(box.PortPath());
    TApdComPort holder;
    holder.SetPortName(device);
    ASSERT_NO_THROW(holder.SetOpen(true));
    const QString message = OpenFailureOf(device);
    EXPECT_TRUE(message.startsWith(QStringLiteral("Cannot open port \"%1\": ").arg(device)))
        << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("group"))) << message.toStdString();
}

}  // namespace
