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
#include <QFile>
#include <cstdio>
#include <filesystem>
#include <memory>

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
    "  export IN.bin [--format json|csv] [-o OUT]\n"
    "                                         a tuning file as text\n"
    "  import IN.json OUT.bin                 text back into a tuning file\n"
    "\n"
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
