// corvane-zel-cli: the tool's tables and files from the command line, for scripts and for
// keeping tunes under version control.
//
//   corvane-zel-cli ports | info | download | send | verify | select | live | export | import
//
// Exit status: 0 done, 1 a file or the box failed, 2 the command line is wrong.
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "BoxSimulator.h"
#include "Connection.h"
#include "Conversions.h"
#include "DynoLog.h"
#include "LiveRecording.h"
#include "MemoryForm.h"
#include "SaveFile.h"
#include "SendPreview.h"
#include "TApdComPort.h"
#include "TableLayout.h"
#include "TuningFile.h"
#include "TuningText.h"
#include "Verify.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// An error the user must fix on the command line.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A command's help was asked for and printed: nothing more to do.
struct HelpShown {};

void Say(FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

const char* const kUsageText =
    "Usage: corvane-zel-cli [--help] [--version] COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  ports                                  the serial ports, one per line\n"
    "  info [--json]                          the box: serial number, edition, program, settings\n"
    "  download OUT.bin                       the box's maps into a tuning file\n"
    "  send IN.bin [--serial NNNNNNNN]        a tuning file into the box, backed up and verified\n"
    "  verify IN.bin                          the box's maps against a tuning file\n"
    "  select N                               makes program N (0 to 9) run\n"
    "  live [--seconds S] [--csv FILE|-]      records the live stream; prints the dyno log\n"
    "  export IN.bin [--format json|csv] [-o OUT]\n"
    "                                         a tuning file as text\n"
    "  import IN.json OUT.bin                 export's JSON or CSV back into a tuning file\n"
    "\n"
    "The box's port: --port PATH, else $CORVANE_PORT; --simulate 2|3 runs a simulated box\n"
    "of that edition instead. Both may also come before the command.\n"
    "Run corvane-zel-cli COMMAND --help for a command's options.\n";

// Parses a command's own arguments; --help prints its help and throws HelpShown.
QStringList Arguments(QCommandLineParser& parser, const QStringList& arguments, int wanted,
                      const QString& syntax) {
    parser.addHelpOption();
    if (!parser.parse(arguments)) throw UsageError(parser.errorText().toStdString());
    if (parser.isSet(QStringLiteral("help"))) {
        Say(stdout, "Usage: corvane-zel-cli " + syntax + "\n" + parser.helpText().section('\n', 2));
        throw HelpShown{};
    }
    const QStringList positional = parser.positionalArguments().mid(1);
    if (positional.size() != wanted)
        throw UsageError("usage: corvane-zel-cli " + syntax.toStdString());
    return positional;
}

char EditionOfFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::file_size(path, error) == kTuningFileSize3 ? '3' : '2';
}

// The options of the commands that talk to the box.
void AddBoxOptions(QCommandLineParser& parser) {
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("the box's serial port (default: $CORVANE_PORT)"),
                      QStringLiteral("path")});
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("runs a simulated box of edition 2 or 3 and uses it"),
                      QStringLiteral("edition")});
}

// A bar on standard error while a chain runs, when that is a terminal: the chain's bytes on
// the line so far over all it moves.
class ProgressBar {
  public:
    // `start`: the connection's bytes moved when the chain's first command was written.
    ProgressBar(QString label, const Connection& connection, uint64_t start,
                std::function<size_t()> total)
        : label_(std::move(label)),
          connection_(connection),
          total_(std::move(total)),
          start_(start),
          shown_(isatty(STDERR_FILENO) != 0) {
        if (!shown_) return;
        QObject::connect(&timer_, &QTimer::timeout, [this] { Draw(false); });
        timer_.start(100);
        Draw(false);
    }
    ~ProgressBar() {
        if (shown_) Draw(true);
    }
    // The chain ended as it should: the bar ends full.
    void Done() { success_ = true; }

  private:
    void Draw(bool last) {
        const size_t total = std::max<size_t>(total_(), 1);
        size_t done = static_cast<size_t>(connection_.BytesMoved() - start_);
        if (done > total || (last && success_)) done = total;
        constexpr int kWidth = 30;
        const int filled = static_cast<int>(kWidth * done / total);
        const QString bar = QString(filled, '#') + QString(kWidth - filled, '.');
        Say(stderr, QStringLiteral("\r%1 [%2] %3/%4 bytes%5")
                        .arg(label_, bar)
                        .arg(done)
                        .arg(total)
                        .arg(last ? "\n" : ""));
    }

    QString label_;
    const Connection& connection_;
    std::function<size_t()> total_;
    uint64_t start_;
    bool shown_;
    bool success_ = false;
    QTimer timer_;
};

// A connection to the box over the tables in memory, as the window has it over its own.
class BoxSession {
  public:
    explicit BoxSession(const QCommandLineParser& parser) : vars_(std::make_unique<Variables>()) {
        QString port = parser.value(QStringLiteral("port"));
        if (port.isEmpty()) port = qEnvironmentVariable("CORVANE_PORT");
        if (parser.isSet(QStringLiteral("simulate"))) {
            const QString edition = parser.value(QStringLiteral("simulate"));
            if (edition != QLatin1String("2") && edition != QLatin1String("3"))
                throw UsageError("--simulate takes 2 or 3");
            BoxSimOptions options;
            options.serial = edition == QLatin1String("2") ? "20012345" : "30012345";
            box_ = std::make_unique<BoxSimulator>(options);
            if (!box_->Start())
                throw LinkError("Could not start the simulated box: " + box_->LastError());
            port = QString::fromStdString(box_->PortPath());
        }
        if (port.isEmpty())
            throw UsageError("no port: give --port PATH, set CORVANE_PORT or use --simulate 2|3");
        connection_ = std::make_unique<Connection>(tables_, *vars_);
        QObject::connect(connection_.get(), &Connection::Failed,
                         [this](const QString& message) { failure_ = message; });
        QObject::connect(connection_.get(), &Connection::Lost,
                         [this](const QString& reason) { failure_ = reason; });
        QObject::connect(connection_.get(), &Connection::VerifyFailed,
                         [this](const QString& report) { verifyReport_ = report; });
        QObject::connect(connection_.get(), &Connection::StatusChanged,
                         [this](const QString& text) {
                             if (text == QLatin1String(kVerifiedText)) verified_ = true;
                             // Where the backup of the box went, before a send overwrites it.
                             if (text.startsWith(QLatin1String("Backup of box ")))
                                 Say(stderr, text + '\n');
                         });
        connection_->Open(port);
    }
    ~BoxSession() {
        if (connection_) connection_->Close();
        if (box_) box_->Stop();
    }
    MemoryForm& Tables() { return tables_; }
    Variables& Vars() { return *vars_; }
    Connection& Link() { return *connection_; }

    QString Port() const { return connection_->PortName(); }
    bool Verified() const { return verified_; }
    const QString& VerifyReport() const { return verifyReport_; }
    // What went wrong with the box or the port since it was opened, if anything.
    const QString& Failure() const { return failure_; }

    // Downloads the box's maps and settings, with a progress bar on a terminal.
    void DownloadAll() {
        const uint64_t start = connection_->BytesMoved();
        connection_->Download();
        ProgressBar bar(QStringLiteral("download"), *connection_, start, [this] {
            const char edition = vars_->Edition();
            return ChainWireBytes(DownloadChain(edition), edition);
        });
        Wait();
        bar.Done();
    }

    // Runs until no answer is awaited; a failure on the way ends the program with 1.
    void Wait() {
        QEventLoop loop;
        QObject::connect(connection_.get(), &Connection::Idle, &loop, &QEventLoop::quit);
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (vars_->Awaiting == 0 || !failure_.isEmpty()) loop.quit();
        });
        poll.start(50);
        if (vars_->Awaiting != 0 && failure_.isEmpty()) loop.exec();
        if (!failure_.isEmpty()) throw LinkError(failure_.toStdString());
    }

  private:
    MemoryForm tables_;
    std::unique_ptr<Variables> vars_;
    std::unique_ptr<BoxSimulator> box_;
    std::unique_ptr<Connection> connection_;
    QString failure_;
    QString verifyReport_;
    bool verified_ = false;
};

int Info(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("What the box holds besides its maps."));
    AddBoxOptions(parser);
    parser.addOption({QStringLiteral("json"), QStringLiteral("prints one JSON object")});
    Arguments(parser, arguments, 0, QStringLiteral("info [--json]"));
    BoxSession box(parser);
    box.Link().Download();
    box.Wait();
    Variables& vars = box.Vars();
    const char edition = vars.Edition();
    const int pedal = box.Tables().ControlByName(Ctl::ComboBoxPedalRes).ItemIndex();
    QJsonObject info;
    info["serial"] = QString::fromStdString(vars.BoxSerial);
    info["edition"] = QString(QChar(edition));
    info["runningProgram"] = vars.ActiveProgram;
    info["startTime"] =
        QString::fromStdString(box.Tables().ControlByName(Ctl::NumBoxStartTime).Caption()).toInt();
    info["pedalResponse"] = edition == '3' && pedal >= 0 && pedal < 3
                                ? QString::fromLatin1(kPedalResponses[pedal])
                                : QString();
    QJsonArray config;
    TextGrid& row = box.Tables().GridByName(Grid::StrGridConfig);
    for (int col = 0; col < (edition == '3' ? 16 : 1); ++col)
        config.append(StrToInt(row.Cell(col, 0)));
    info["configuration"] = config;
    if (parser.isSet(QStringLiteral("json"))) {
        Say(stdout, QString::fromUtf8(QJsonDocument(info).toJson(QJsonDocument::Compact)) + '\n');
        return kDone;
    }
    QStringList values;
    for (const QJsonValue& value : config) values << QString::number(value.toInt());
    Say(stdout, QStringLiteral("serial number: %1\nedition: %2 channels\nrunning program: %3\n"
                               "start time (min): %4\npedal response: %5\nconfiguration: %6\n")
                    .arg(info["serial"].toString(), info["edition"].toString())
                    .arg(info["runningProgram"].toInt())
                    .arg(info["startTime"].toInt())
                    .arg(edition == '3' ? info["pedalResponse"].toString() : QStringLiteral("-"),
                         values.join(' ')));
    return kDone;
}

int Download(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The box's maps into a tuning file."));
    AddBoxOptions(parser);
    const QStringList files = Arguments(parser, arguments, 1, QStringLiteral("download OUT.bin"));
    BoxSession box(parser);
    box.DownloadAll();
    const std::vector<uint8_t> bytes = DownloadedTuningFile(box.Vars());
    if (bytes.empty()) throw LinkError("The box sent no complete set of maps.");
    SaveFileAtomically(files[0], bytes);
    return kDone;
}

QString Channels(char edition) {
    return QStringLiteral("%1-channel").arg(QChar(edition));
}

// A tuning file checked as "Open file" checks it, before anything talks to the box.
char CheckedTuningFile(const QString& path) {
    MemoryForm tables;
    auto vars = std::make_unique<Variables>();
    LoadTuningFile(tables, *vars, path.toStdString());
    return EditionOfFile(path.toStdString());
}

// A file of the other edition than the box's; `then` ends the message (what was not done).
void RequireEdition(char fileEdition, char boxEdition, const QString& path, const QString& port,
                    const QString& then = {}) {
    if (fileEdition == boxEdition) return;
    throw FileError(
        QStringLiteral("\"%1\" is a tuning file for a %2 box; the box on %3 has %4 channels.%5")
            .arg(path, Channels(fileEdition), port)
            .arg(QChar(boxEdition))
            .arg(then)
            .toStdString());
}

int Send(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends a tuning file into the box: the box is backed up first, every value is checked "
        "before the first byte, and the box is read back and compared."));
    AddBoxOptions(parser);
    parser.addOption({QStringLiteral("serial"),
                      QStringLiteral("the serial number to give the box (default: its own)"),
                      QStringLiteral("NNNNNNNN")});
    parser.addOption({QStringLiteral("dry-run"),
                      QStringLiteral("list what the send would change on the box, one line per "
                                     "value, and write nothing")});
    const QStringList files = Arguments(
        parser, arguments, 1, QStringLiteral("send IN.bin [--serial NNNNNNNN] [--dry-run]"));
    const QString serial = parser.value(QStringLiteral("serial"));
    if (parser.isSet(QStringLiteral("serial"))) {
        if (serial.size() != 8 || serial.toLatin1().toStdString().find_first_not_of(
                                      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrst"
                                      "uvwxyz") != std::string::npos)
            throw UsageError("--serial needs 8 letters and digits");
        if (EditionOf(serial.toStdString()) == '\0') throw UsageError(kSerialEditionRequired);
    }
    const char fileEdition = CheckedTuningFile(files[0]);

    BoxSession box(parser);
    box.DownloadAll();
    const char boxEdition = box.Vars().Edition();
    RequireEdition(fileEdition, boxEdition, files[0], box.Port(),
                   QStringLiteral(" Nothing was sent."));
    if (!serial.isEmpty() && EditionOf(serial.toStdString()) != boxEdition)
        throw FileError(QStringLiteral("The serial number %1 is for a %2 box; the box on %3 has %4 "
                                       "channels. Nothing was sent.")
                            .arg(serial, Channels(EditionOf(serial.toStdString())), box.Port())
                            .arg(QChar(boxEdition))
                            .toStdString());
    LoadTuningFile(box.Tables(), box.Vars(), files[0].toStdString());
    if (!serial.isEmpty())
        box.Tables().ControlByName(Ctl::EditNewSerial).SetCaption(serial.toStdString());
    if (parser.isSet(QStringLiteral("dry-run"))) {
        // The send's own checks, then its changes against the box as just read.
        CheckSend(box.Link().LinkState());
        const std::vector<std::string> changes = SendPreview(box.Tables(), box.Vars());
        for (const std::string& line : changes) Say(stdout, QString::fromStdString(line) + '\n');
        const QString boxSerial = QString::fromStdString(box.Vars().PortSerial);
        Say(stderr, changes.empty()
                        ? QStringLiteral("Nothing would change on box %1\n").arg(boxSerial)
                        : QStringLiteral("%1 values would change on box %2; nothing was sent\n")
                              .arg(changes.size())
                              .arg(boxSerial));
        return kDone;
    }
    const uint64_t start = box.Link().BytesMoved();
    box.Link().Send();
    {
        ProgressBar bar(QStringLiteral("send"), box.Link(), start,
                        [boxEdition] { return ChainWireBytes(SendChain(boxEdition), boxEdition); });
        box.Wait();
        if (box.Verified()) bar.Done();
    }
    if (!box.VerifyReport().isEmpty()) {
        Say(stderr, QStringLiteral("corvane-zel-cli: %1: %2\n")
                        .arg(QLatin1String(kVerifyFailedTitle), box.VerifyReport()));
        return kFailed;
    }
    if (!box.Verified()) throw LinkError("The box did not finish the send's read-back.");
    Say(stdout, QString::fromLatin1(kVerifiedText) + '\n');
    return kDone;
}

int Verify(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Downloads the box's maps and lists every value that differs from a tuning file."));
    AddBoxOptions(parser);
    const QStringList files = Arguments(parser, arguments, 1, QStringLiteral("verify IN.bin"));
    const char fileEdition = CheckedTuningFile(files[0]);
    BoxSession box(parser);
    box.DownloadAll();
    const char boxEdition = box.Vars().Edition();
    RequireEdition(fileEdition, boxEdition, files[0], box.Port());
    const std::vector<FileDifference> differences =
        CompareWithTuningFile(box.Tables(), boxEdition, files[0].toStdString());
    const QString name = QFileInfo(files[0]).fileName();
    if (differences.empty()) {
        Say(stdout, QStringLiteral("No differences from %1\n").arg(name));
        return kDone;
    }
    for (const FileDifference& difference : differences) {
        const TextGrid& grid = difference.program == 0
                                   ? box.Tables().GridByName(Grid::StrGridConfig)
                                   : box.Tables().ProgramGrid(difference.program, difference.table);
        const std::string place = difference.program == 0
                                      ? "Configuration column " + std::to_string(difference.col + 1)
                                      : ProgramCellName(difference.program, difference.table, grid,
                                                        difference.col, difference.row);
        Say(stdout, QStringLiteral("%1: box %2, file %3\n")
                        .arg(QString::fromStdString(place),
                             QString::fromStdString(grid.Cell(difference.col, difference.row)),
                             QString::fromStdString(difference.fileText)));
    }
    Say(stderr, QStringLiteral("corvane-zel-cli: %1 values differ from %2\n")
                    .arg(differences.size())
                    .arg(name));
    return kFailed;
}

std::atomic<int> stopSignal{0};

extern "C" void OnStopSignal(int number) {
    stopSignal = number;
}

// The dyno log's maxima: the RPM row and the highest reading of each channel at each point,
// for program 0 and for programs 1 to 9.
QString DynoLogMaxima(MemoryForm& tables, const Variables& vars) {
    const TextGrid& log = tables.GridByName(Grid::StrGridDynoLog);
    QString text;
    const auto line = [&](const QString& label, const std::function<std::string(int)>& cell) {
        text += label.leftJustified(8);
        for (int c = 1; c <= 16; ++c) text += QString::fromStdString(cell(c)).rightJustified(7);
        text += '\n';
    };
    const std::pair<const char*, const DynoRecord*> records[] = {
        {"Dyno log maxima, program 0:", &vars.DynoLogP0},
        {"Dyno log maxima, programs 1 to 9:", &vars.DynoLogP1toP9}};
    for (const auto& [title, record] : records) {
        text += QString::fromLatin1(title) + '\n';
        line(QStringLiteral("RPM"), [&](int c) { return log.Cell(c, 0); });
        for (int r = 1; r <= 3; ++r) {
            line(QStringLiteral("PRESS_%1").arg(r), [&](int c) {
                const std::string& value = (*record)[static_cast<size_t>(c * 4 + r)];
                return value.empty() ? std::string("0") : value;
            });
        }
    }
    return text;
}

int Live(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Switches the box's live stream on and records every message, until the time is up or "
        "Ctrl+C; then switches it off and prints the dyno log's maxima."));
    AddBoxOptions(parser);
    parser.addOption({QStringLiteral("seconds"),
                      QStringLiteral("how long to record (default: until Ctrl+C)"),
                      QStringLiteral("S")});
    parser.addOption({QStringLiteral("csv"),
                      QStringLiteral("writes one CSV line per live message to FILE, or to "
                                     "standard output for -"),
                      QStringLiteral("FILE")});
    Arguments(parser, arguments, 0, QStringLiteral("live [--seconds S] [--csv FILE|-]"));
    double seconds = 0;
    if (parser.isSet(QStringLiteral("seconds"))) {
        bool ok = false;
        seconds = parser.value(QStringLiteral("seconds")).toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > 1e7)
            throw UsageError("--seconds takes a number of seconds above 0");
    }
    const QString csvPath = parser.value(QStringLiteral("csv"));
    const bool csvToStdout = csvPath == QLatin1String("-");

    BoxSession box(parser);
    box.DownloadAll();
    // The recording is written as it comes, on a thread of its own, so that an interrupted
    // run still leaves every line.
    std::unique_ptr<LiveCsvWriter> csv;
    if (csvToStdout) {
        csv = std::make_unique<LiveCsvWriter>(stdout);
    } else if (!csvPath.isEmpty()) {
        csv = std::make_unique<LiveCsvWriter>(QFile::encodeName(csvPath).toStdString());
    }
    QElapsedTimer clock;
    uint64_t messages = 0;
    QObject::connect(&box.Link(), &Connection::LiveSampleReceived, [&](const LiveSample& sample) {
        ++messages;
        if (csv)
            csv->Add({std::chrono::microseconds(clock.nsecsElapsed() / 1000), sample,
                      box.Vars().ActiveProgram});
    });
    // The stream's end comes once the messages on their way at the switch-off have come.
    bool streaming = false;
    QObject::connect(&box.Link(), &Connection::LiveStreamChanged, [&](bool on) { streaming = on; });

    stopSignal = 0;
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
    clock.start();
    box.Link().SwitchDynoLog();
    double recorded = 0;
    {
        QEventLoop loop;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
            const bool timeUp =
                seconds > 0 && clock.elapsed() >= static_cast<qint64>(seconds * 1000);
            if (recorded == 0 && (timeUp || stopSignal != 0)) {
                recorded = static_cast<double>(clock.elapsed()) / 1000;
                if (box.Vars().DynoLogging != 0) box.Link().SwitchDynoLog();
            }
            if (!streaming || !box.Failure().isEmpty()) loop.quit();
        });
        watch.start(10);
        loop.exec();
    }
    if (recorded == 0) recorded = static_cast<double>(clock.elapsed()) / 1000;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (csv) csv->Close();
    if (!box.Failure().isEmpty()) throw LinkError(box.Failure().toStdString());
    Say(csvToStdout ? stderr : stdout, QStringLiteral("%1 live messages in %2 s.\n%3")
                                           .arg(messages)
                                           .arg(recorded, 0, 'f', 1)
                                           .arg(DynoLogMaxima(box.Tables(), box.Vars())));
    return kDone;
}

int Select(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Makes a program run."));
    AddBoxOptions(parser);
    const QStringList number = Arguments(parser, arguments, 1, QStringLiteral("select N"));
    bool ok = false;
    const int n = number[0].toInt(&ok);
    if (!ok || n < 0 || n > 9) throw UsageError("N must be a program number from 0 to 9");
    BoxSession box(parser);
    // The box's edition decides which programs it has.
    box.Link().Download();
    box.Wait();
    if (n == 9 && box.Vars().Edition() == '3') throw UsageError("a 3-channel box has no program 9");
    box.Link().SelectProgram(n);
    box.Wait();
    return kDone;
}

int Ports(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The serial ports that can be opened."));
    Arguments(parser, arguments, 0, QStringLiteral("ports"));
    for (const QString& port : TApdComPort::OpenablePorts({})) Say(stdout, port + '\n');
    return kDone;
}

int Export(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("A tuning file as text."));
    parser.addOption({QStringLiteral("format"), QStringLiteral("json (default) or csv"),
                      QStringLiteral("format"), QStringLiteral("json")});
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")},
                      QStringLiteral("the file to write (default: standard output)"),
                      QStringLiteral("file")});
    const QStringList files = Arguments(
        parser, arguments, 1, QStringLiteral("export IN.bin [--format json|csv] [-o OUT]"));
    const QString format = parser.value(QStringLiteral("format"));
    if (format != QLatin1String("json") && format != QLatin1String("csv"))
        throw UsageError("--format must be json or csv");

    MemoryForm tables;
    auto vars = std::make_unique<Variables>();
    const std::string path = files[0].toStdString();
    LoadTuningFile(tables, *vars, path);
    const char edition = EditionOfFile(path);
    const QByteArray text = format == QLatin1String("csv") ? TablesToCsv(tables, edition)
                                                           : TablesToJson(tables, edition);
    if (!parser.isSet(QStringLiteral("output"))) {
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        std::fflush(stdout);
        return kDone;
    }
    SaveFileAtomically(parser.value(QStringLiteral("output")),
                       std::vector<uint8_t>(text.begin(), text.end()));
    return kDone;
}

int Import(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Text written by export (JSON or CSV) back into a tuning file."));
    const QStringList files =
        Arguments(parser, arguments, 2, QStringLiteral("import IN.json OUT.bin"));
    QFile in(files[0]);
    if (!in.open(QIODevice::ReadOnly))
        throw FileError("Cannot open \"" + files[0].toStdString() +
                        "\": " + in.errorString().toStdString() + ".");
    MemoryForm tables;
    const char edition = TextToTables(in.readAll(), tables);
    SaveFileAtomically(files[1], EncodeTuningFile(tables, edition));
    return kDone;
}

// The options every box command takes may come before the command too
// ("corvane-zel-cli --port /dev/ttyUSB0 info"): they are moved behind it, where the command's
// own parser takes them, so both places mean the same. A command that talks to no box then
// refuses them as it does behind it.
QStringList CommonOptionsAfterCommand(const QStringList& arguments) {
    static const QStringList kWithValue = {QStringLiteral("--port"), QStringLiteral("--simulate")};
    QStringList leading;
    qsizetype at = 1;
    for (; at < arguments.size(); ++at) {
        const QString& argument = arguments[at];
        const QString name = argument.section(QLatin1Char('='), 0, 0);
        if (!kWithValue.contains(name)) break;
        leading << argument;
        if (name != argument) continue;  // --port=PATH
        if (at + 1 >= arguments.size())
            throw UsageError(QStringLiteral("%1 needs a value").arg(argument).toStdString());
        leading << arguments[++at];
    }
    if (leading.isEmpty()) return arguments;
    if (at >= arguments.size())
        throw UsageError("no command after " + leading.join(' ').toStdString());
    return QStringList{arguments[0], arguments[at]} + leading + arguments.mid(at + 1);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-zel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BOXTOOL_VERSION));
    try {
        const QStringList arguments = CommonOptionsAfterCommand(QCoreApplication::arguments());
        const QString command = arguments.value(1);
        if (command == QLatin1String("--version") || command == QLatin1String("-v")) {
            Say(stdout, QStringLiteral("corvane-zel-cli %1\n").arg(BOXTOOL_VERSION));
            return kDone;
        }
        if (command.isEmpty() || command == QLatin1String("--help") ||
            command == QLatin1String("-h")) {
            Say(command.isEmpty() ? stderr : stdout, QString::fromLatin1(kUsageText));
            return command.isEmpty() ? kUsage : kDone;
        }
        const QStringList rest = QStringList{arguments[0]} + arguments.mid(1);
        if (command == QLatin1String("ports")) return Ports(rest);
        if (command == QLatin1String("info")) return Info(rest);
        if (command == QLatin1String("download")) return Download(rest);
        if (command == QLatin1String("send")) return Send(rest);
        if (command == QLatin1String("verify")) return Verify(rest);
        if (command == QLatin1String("select")) return Select(rest);
        if (command == QLatin1String("live")) return Live(rest);
        if (command == QLatin1String("export")) return Export(rest);
        if (command == QLatin1String("import")) return Import(rest);
        throw UsageError("unknown command \"" + command.toStdString() + "\"");
    } catch (const HelpShown&) {
        return kDone;
    } catch (const UsageError& error) {
        Say(stderr,
            QStringLiteral("corvane-zel-cli: %1\n%2")
                .arg(QString::fromStdString(error.what()), QString::fromLatin1(kUsageText)));
        return kUsage;
    } catch (const std::exception& error) {
        Say(stderr,
            QStringLiteral("corvane-zel-cli: %1\n").arg(QString::fromStdString(error.what())));
        return kFailed;
    }
}
