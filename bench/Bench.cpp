// Measures the tool against its limits and prints each figure with its limit and ratio:
// the download and send chains against the wire time at 115200 baud, the live stream at
// the wire's maximum rate, and start-up against a bare Qt window.
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <memory>

#include "BoxSimulator.h"
#include "ErrorGuard.h"
#include "LiveGraph.h"
#include "LiveRecording.h"
#include "Unit1.h"

namespace {

using namespace std::chrono_literals;

constexpr double kBitsPerByte = 10.0;
constexpr double kBaud = 115200.0;

double WireSeconds(size_t bytes) {
    return static_cast<double>(bytes) * kBitsPerByte / kBaud;
}

void Figure(const char* name, double value, const char* unit, double limit, const char* goal) {
    std::printf("%-44s %10.4f %-4s limit %10.4f %-4s ratio %6.3f  (goal %s)\n", name, value, unit,
                limit, unit, limit != 0 ? value / limit : 0.0, goal);
    std::fflush(stdout);
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Runs the event loop until `done` holds, looking every millisecond.
bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
    QEventLoop loop;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(1);
    loop.exec();
    return done();
}

// Runs the event loop for a while, with nothing of the bench's own waking it.
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Session {
    std::unique_ptr<BoxSimulator> box;
    std::unique_ptr<TForm1> form;

    bool Open(const std::string& serial, std::chrono::microseconds liveInterval = 50000us) {
        BoxSimOptions options;
        options.serial = serial;
        options.pacing = true;
        options.liveInterval = liveInterval;
        box = std::make_unique<BoxSimulator>(options);
        if (!box->Start()) return false;
        form = std::make_unique<TForm1>();
        form->show();
        form->ComboBoxComPorts->setEditText(QString::fromStdString(box->PortPath()));
        form->ButtonConnect->setEnabled(true);
        form->ButtonConnect->click();
        // Let the window finish its first paint, as it has long before a user clicks.
        RunUntil([] { return false; }, 300);
        return form->ApdComPort1->IsOpen();
    }
    bool ChainDone(size_t commands) const {
        return box->Received().size() >= commands && form->Vars().Awaiting == 0;
    }
    ~Session() {
        form.reset();
        if (box) box->Stop();
    }
};

void BenchChains(bool three) {
    Session s;
    const std::string serial = three ? "30012345" : "20012345";
    if (!s.Open(serial)) {
        std::printf("could not open the simulated box\n");
        return;
    }
    const size_t downloadCommands = three ? 7 : 5;
    const char edition = three ? '3' : '2';
    const size_t downloadBytes = ChainWireBytes(DownloadChain(edition), edition);

    // Download: from the click to the last table filled.
    QElapsedTimer clock;
    clock.start();
    s.form->ButtonDownload->click();
    const bool downloaded = RunUntil([&] { return s.ChainDone(downloadCommands); }, 10000);
    const double download = clock.nsecsElapsed() * 1e-9;
    Figure(three ? "download chain, 3 channels [s]" : "download chain, 2 channels [s]",
           downloaded ? download : -1, "s", WireSeconds(downloadBytes), "<= 1.05");

    // Send with its read-back.
    s.box->ClearLogs();
    // The send chain ends with the read-back, a download.
    const size_t sendBytes = ChainWireBytes(SendChain(edition), edition);
    const size_t sendCommands = (three ? 5 : 4) + downloadCommands;
    clock.restart();
    s.form->ButtonSend->click();
    const bool sent = RunUntil([&] { return s.ChainDone(sendCommands); }, 10000);
    const double send = clock.nsecsElapsed() * 1e-9;
    Figure(three ? "send chain with read-back, 3 channels [s]"
                 : "send chain with read-back, 2 channels [s]",
           sent ? send : -1, "s", WireSeconds(sendBytes), "<= 1.05");
}

// With `graph`, the live graph is open beside the window and records the whole stream.
void BenchLiveStream(double seconds, bool graph) {
    Session s;
    if (!s.Open("30012345", 0us)) return;
    s.form->ButtonDownload->click();
    RunUntil([&] { return s.ChainDone(7); }, 10000);
    QTemporaryDir recordings;
    const QString recording = recordings.filePath(QStringLiteral("run.csv"));
    if (graph) {
        TForm1::SetFileChooser([&](QFileDialog*) { return recording; });
        s.form->ShowLiveGraph();
        RunUntil([] { return false; }, 300);
    }
    const std::string prefix = graph ? "graph open: " : "live stream: ";
    const auto name = [&](const char* what) { return prefix + what; };

    // First the processor time over the wall time with nothing else in the window's thread,
    // then, for as long again, the longest stall of the event loop: the longest gap between
    // two ticks of a 1 ms timer. (The probe wakes the thread a thousand times a second, which
    // would count in the first figure.)
    s.form->ButtonDynoLog->click();
    if (graph) s.form->Graph()->ButtonRecord->click();
    const double cpuStart = ThreadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    RunFor(static_cast<int>(seconds * 1000));
    const double cpu = ThreadCpuSeconds() - cpuStart;
    const double elapsed = wall.nsecsElapsed() * 1e-9;

    // With each gap goes the processor time the window's thread had in it: a gap much longer
    // than that is time the system gave to others (another process, the virtual machine's
    // host), not work of the tool.
    qint64 longestGapNs = 0;
    double longestGapCpu = 0;
    double tickCpu = ThreadCpuSeconds();
    QElapsedTimer tick;
    QTimer stallProbe;
    stallProbe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&stallProbe, &QTimer::timeout, [&] {
        const qint64 gap = tick.nsecsElapsed();
        const double cpuNow = ThreadCpuSeconds();
        if (gap > longestGapNs) {
            longestGapNs = gap;
            longestGapCpu = cpuNow - tickCpu;
        }
        tick.restart();
        tickCpu = cpuNow;
    });
    tick.start();
    stallProbe.start(1);
    RunFor(static_cast<int>(seconds * 1000));
    stallProbe.stop();
    const double streamed = wall.nsecsElapsed() * 1e-9;

    // Hold the box's stream and let the window catch up before switching off.
    s.box->SetLiveInterval(std::chrono::hours(1));
    // Messages the box had queued still leave on the paced line: settled means nothing new
    // for 100 ms and every message sent taken.
    size_t last = SIZE_MAX;
    QElapsedTimer quiet;
    quiet.start();
    RunUntil(
        [&] {
            const size_t sentNow = s.box->LiveSent().size();
            if (sentNow != last) quiet.restart();
            last = sentNow;
            return quiet.elapsed() >= 100 && s.form->Vars().LiveMessages == sentNow;
        },
        10000);
    s.form->ButtonDynoLog->click();
    const double sent = static_cast<double>(s.box->LiveSent().size());
    const double handled = static_cast<double>(s.form->Vars().LiveMessages);
    std::printf("%s%.0f messages sent in %.1f s (%.0f per second)\n", prefix.c_str(), sent,
                streamed, sent / streamed);
    Figure(name("messages handled / sent").c_str(), handled, "msg", sent, "1.000");
    Figure(name("window thread CPU / wall [s]").c_str(), cpu, "s", elapsed, "<= 0.05");
    Figure(name("longest event-loop stall [ms]").c_str(), longestGapNs * 1e-6, "ms", 20.0,
           "<= 1.0");
    std::printf("%sthe window's thread ran %.1f ms of that stall\n", prefix.c_str(),
                longestGapCpu * 1e3);
    if (graph) {
        RunUntil([&] { return !s.form->Graph()->Recording(); }, 5000);
        QFile file(recording);
        size_t lines = 0;
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray text = file.readAll();
            try {
                lines = ParseLiveCsv(
                            std::string_view(text.constData(), static_cast<size_t>(text.size())))
                            .size();
            } catch (const LiveCsvError& error) {
                std::printf("recording unreadable: %s\n", error.what());
            }
        }
        Figure(name("recorded lines / messages sent").c_str(), static_cast<double>(lines), "msg",
               sent, "1.000");
        TForm1::SetFileChooser({});
    }

    // From a click on "Dyno log OFF" in the middle of the stream to its byte on the line. The
    // click is posted like a user's, so it waits behind whatever the window is doing.
    s.box->SetLiveInterval(0us);
    s.form->ButtonDynoLog->click();
    RunUntil([] { return false; }, 1000);
    s.box->ClearLogs();
    const SimClock::time_point clicked = SimClock::now();
    QMetaObject::invokeMethod(s.form->ButtonDynoLog, &QPushButton::click, Qt::QueuedConnection);
    double offMs = -1;
    RunUntil(
        [&] {
            for (const ReceivedCommand& command : s.box->Received()) {
                if (command.code != Cmd::LiveOff3) continue;
                offMs = std::chrono::duration<double, std::milli>(command.at - clicked).count();
                return true;
            }
            return false;
        },
        2000);
    Figure(name("click on Dyno log OFF to its byte [ms]").c_str(), offMs, "ms", 30.0, "<= 1.0");
}

// The peak resident memory of this process image. (getrusage's figure would also count
// what the parent held when it started this process.)
long PeakKilobytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// Child mode: show a window, report that it is shown and the peak memory, and exit.
int StartupChild(bool tool) {
    std::unique_ptr<QWidget> window;
    QElapsedTimer probe;
    probe.start();
    if (tool) {
        window = std::make_unique<TForm1>();
        if (qEnvironmentVariableIsSet("BENCH_PROBE"))
            std::fprintf(stderr, "constructed %lld us\n", probe.nsecsElapsed() / 1000);
    } else {
        auto bare = std::make_unique<QWidget>();
        auto* table = new QTableWidget(4, 17, bare.get());
        table->setGeometry(0, 0, 892, 105);
        bare->resize(1115, 729);
        window = std::move(bare);
    }
    window->show();
    QApplication::processEvents();
    if (qEnvironmentVariableIsSet("BENCH_PROBE"))
        std::fprintf(stderr, "shown %lld us\n", probe.nsecsElapsed() / 1000);
    std::printf("shown\n");
    std::fflush(stdout);
    // The memory is taken once the window has settled, with whatever it does right after
    // showing done too.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300) QApplication::processEvents(QEventLoop::AllEvents, 50);
    std::printf("peak %ld\n", PeakKilobytes());
    std::fflush(stdout);
    return 0;
}

void BenchStartup(const QString& self) {
    // Time from starting the process to the window being shown, best of five; the peak
    // memory the process reports at that moment.
    const auto measure = [&](const char* mode, double& seconds, double& kilobytes) {
        seconds = 1e9;
        kilobytes = 0;
        for (int run = 0; run < 5; ++run) {
            QProcess child;
            QElapsedTimer clock;
            clock.start();
            child.start(self, {QString::fromLatin1(mode)});
            QByteArray out;
            double shownAt = -1;
            while (!out.contains("peak ") && child.waitForReadyRead(30000)) {
                out += child.readAllStandardOutput();
                if (shownAt < 0 && out.contains("shown")) shownAt = clock.nsecsElapsed() * 1e-9;
            }
            child.waitForFinished(30000);
            out += child.readAllStandardOutput();
            const int at = out.indexOf("peak ");
            if (at < 0 || shownAt < 0) continue;
            seconds = std::min(seconds, shownAt);
            kilobytes = std::max(kilobytes, out.mid(at + 5).trimmed().toDouble());
        }
    };
    double toolTime = 0, toolMemory = 0, bareTime = 0, bareMemory = 0;
    measure("--startup-bare", bareTime, bareMemory);
    measure("--startup-tool", toolTime, toolMemory);
    Figure("start-up time, tool / bare window [s]", toolTime, "s", bareTime, "<= 1.5");
    Figure("start-up peak memory, tool / bare [kB]", toolMemory, "kB", bareMemory, "<= 1.3");
}

}  // namespace

int main(int argc, char** argv) {
    // The send chain's backups go to a folder of the run's own, not the user's.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains("--startup-tool")) return StartupChild(true);
    if (args.contains("--startup-bare")) return StartupChild(false);
    SetErrorPresenter(
        [](const QString& message) { std::printf("error shown: %s\n", qPrintable(message)); });
    double liveSeconds = 10;
    const int at = static_cast<int>(args.indexOf("--live-seconds"));
    if (at > 0 && at + 1 < args.size()) liveSeconds = args[at + 1].toDouble();

    std::printf(
        "figure                                       measured        limit            ratio\n");
    BenchChains(false);
    BenchChains(true);
    BenchLiveStream(liveSeconds, false);
    BenchLiveStream(liveSeconds, true);
    BenchStartup(QCoreApplication::applicationFilePath());
    return 0;
}
