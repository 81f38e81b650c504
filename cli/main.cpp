// corvane-zel-cli: the tool's tables and files from the command line, for scripts and for
// keeping tunes under version control.
//
//   corvane-zel-cli ports
//   corvane-zel-cli export IN.bin [--format json|csv] [-o OUT]
//   corvane-zel-cli import IN.json OUT.bin
//
// Exit status: 0 done, 1 a file or the box failed, 2 the command line is wrong.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "BoxSimulator.h"
#include "Connection.h"
#include "Conversions.h"
#include "MemoryForm.h"
#include "SaveFile.h"
#include "TApdComPort.h"
#include "TuningFile.h"
#include "TuningText.h"

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
    "  select N                               makes program N (0 to 9) run\n"
    "  export IN.bin [--format json|csv] [-o OUT]\n"
    "                                         a tuning file as text\n"
    "  import IN.json OUT.bin                 text back into a tuning file\n"
    "\n"
    "The box's port: --port PATH, else $CORVANE_PORT; --simulate 2|3 runs a simulated box\n"
    "of that edition instead.\n"
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
        connection_->Open(port);
    }
    ~BoxSession() {
        if (connection_) connection_->Close();
        if (box_) box_->Stop();
    }
    MemoryForm& Tables() { return tables_; }
    Variables& Vars() { return *vars_; }
    Connection& Link() { return *connection_; }

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
    static const char* const kPedal[3] = {"Lazy", "Normal", "Insane"};
    QJsonObject info;
    info["serial"] = QString::fromStdString(vars.BoxSerial);
    info["edition"] = QString(QChar(edition));
    info["runningProgram"] = vars.ActiveProgram;
    info["startTime"] =
        QString::fromStdString(box.Tables().ControlByName(Ctl::NumBoxStartTime).Caption()).toInt();
    info["pedalResponse"] =
        edition == '3' && pedal >= 0 && pedal < 3 ? QString::fromLatin1(kPedal[pedal]) : QString();
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
    box.Link().Download();
    box.Wait();
    const std::vector<uint8_t> bytes = DownloadedTuningFile(box.Vars());
    if (bytes.empty()) throw LinkError("The box sent no complete set of maps.");
    SaveFileAtomically(files[0], bytes);
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
        QStringLiteral("Text written by export (JSON) back into a tuning file."));
    const QStringList files =
        Arguments(parser, arguments, 2, QStringLiteral("import IN.json OUT.bin"));
    QFile in(files[0]);
    if (!in.open(QIODevice::ReadOnly))
        throw FileError("Cannot open \"" + files[0].toStdString() +
                        "\": " + in.errorString().toStdString() + ".");
    MemoryForm tables;
    const char edition = JsonToTables(in.readAll(), tables);
    SaveFileAtomically(files[1], EncodeTuningFile(tables, edition));
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvane-zel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BOXTOOL_VERSION));
    const QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.value(1);
    try {
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
        if (command == QLatin1String("select")) return Select(rest);
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
