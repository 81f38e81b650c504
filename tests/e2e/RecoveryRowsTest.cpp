// The program itself, ended by SIGKILL after edits and started again: it offers the edits
// back. A process of its own, since the rows' window cannot be killed without the row.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "Desktop.h"

namespace {

using namespace desktop;
using PT = ProgramTable;

// Brings `window` to the front; --sync alone waits forever for a window already active.
void Activate(const QString& window) {
    if (XDoTool({"getactivewindow"}) != window) XDoTool({"windowactivate", "--sync", window});
}

// The first window of process `pid` whose name matches `name`, waited for.
QString WindowOf(qint64 pid, const QString& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        QProcess search;
        search.start(QStringLiteral("xdotool"), {"search", "--all", "--onlyvisible", "--pid",
                                                 QString::number(pid), "--name", name});
        search.waitForFinished(5000);
        const QString found = QString::fromUtf8(search.readAllStandardOutput()).trimmed();
        if (!found.isEmpty()) return found.section('\n', 0, 0);
        QThread::msleep(100);
    }
    return {};
}

// The text of a program table's cell as the recovery file holds it.
QString SavedCell(const QString& path, const QString& table, int col, int row) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    for (const QJsonValue& value :
         QJsonDocument::fromJson(file.readAll()).object().value("tables").toArray()) {
        const QJsonObject saved = value.toObject();
        if (saved.value("name").toString() == table)
            return saved.value("texts").toArray().at(row * 17 + col).toString();
    }
    return {};
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (done()) return true;
        QThread::msleep(50);
    }
    return done();
}

TEST(RecoveryRows, AToolKilledAfterEditsOffersThemBackAtTheNextStart) {
    if (!Running()) GTEST_SKIP() << "needs the X display and window manager of scripts/e2e.sh";
    // Where a cell of P1 CH1 lies in the window: the layout is fixed, so the rows' own window
    // tells it for the program's.
    QPoint cell;
    ASSERT_TRUE(OnMain([&] {
        TForm1 form;
        form.show();
        TStringGrid* grid = form.ProgramGridWidget(1, PT::CH1);
        cell = grid->viewport()->mapTo(&form, grid->CellRect(3, 2).center());
    }));
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    const QString recovery = home.filePath("data/corvane-zel/recovery.json");
    const auto start = [&](QProcess& tool) {
        tool.setProcessEnvironment(env);
        tool.setWorkingDirectory(home.path());
        tool.start(QStringLiteral(TOOL_PROGRAM), {});
        return tool.waitForStarted(10000);
    };

    QProcess first;
    ASSERT_TRUE(start(first));
    const QString window = WindowOf(first.processId(), "^Corvane Zel V1.32b$");
    ASSERT_FALSE(window.isEmpty()) << "the program's window did not show";
    Activate(window);
    XDoTool({"mousemove", "--window", window, "--sync", QString::number(cell.x()),
             QString::number(cell.y())});
    XDoTool({"click", "1"});
    XDoTool({"type", "--delay", "20", "4321"});
    XDoTool({"key", "Return"});
    ASSERT_TRUE(WaitFor([&] { return SavedCell(recovery, "StrGridP1CH1", 3, 2) == "4321"; }))
        << "the edit was not kept for recovery";
    first.kill();  // SIGKILL: nothing of the program runs any more
    first.waitForFinished(5000);
    ASSERT_TRUE(QFile::exists(recovery));

    QProcess second;
    ASSERT_TRUE(start(second));
    const QString question = WindowOf(second.processId(), "^Restore$");
    ASSERT_FALSE(question.isEmpty()) << "no question at the next start";
    Activate(question);
    XDoTool({"key", "Return"});  // Yes, the default
    // Restored and still not sent: kept again, as restored.
    ASSERT_TRUE(WaitFor([&] {
        QFile file(recovery);
        return file.open(QIODevice::ReadOnly) &&
               QJsonDocument::fromJson(file.readAll()).object().value("origin").toInt() ==
                   static_cast<int>(TablesOrigin::Kind::Restored);
    })) << "the restored tables were not kept again";
    EXPECT_EQ(SavedCell(recovery, "StrGridP1CH1", 3, 2), "4321");

    // A clean exit, answering for the changes, removes the file.
    const QString main = WindowOf(second.processId(), "^Corvane Zel V1.32b$");
    Activate(main);
    XDoTool({"key", "alt+F4"});
    const QString close = WindowOf(second.processId(), "^Close$");
    ASSERT_FALSE(close.isEmpty()) << "closing with changes did not ask";
    Activate(close);
    XDoTool({"key", "alt+y"});
    EXPECT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_FALSE(QFile::exists(recovery));
    if (second.state() != QProcess::NotRunning) second.kill();
}

}  // namespace
