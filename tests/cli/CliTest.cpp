#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <csignal>

#include "BoxSimulator.h"
#include "Link.h"
#include "LiveRecording.h"
#include "MemoryForm.h"
#include "TestSupport.h"
#include "TuningFile.h"

namespace {

struct CliRun {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

// Backups of a box go under the data folder: the tests' own, never the user's.
const TempDir& DataHome() {
    static const TempDir home;
    return home;
}

QString BackupFolder() {
    return QString::fromStdString(DataHome() / "corvane-zel/backups");
}

void Start(QProcess& process, const QStringList& arguments, const QString& portVariable = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("CORVANE_PORT"));
    if (!portVariable.isEmpty()) environment.insert(QStringLiteral("CORVANE_PORT"), portVariable);
    environment.insert(QStringLiteral("XDG_DATA_HOME"),
                       QString::fromStdString(DataHome().Path().string()));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(CLI_PATH), arguments);
}

CliRun Cli(const QStringList& arguments, const QString& portVariable = {}) {
    QProcess process;
    Start(process, arguments, portVariable);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// A tuning file of the edition with a distinct value in every cell it holds.
std::vector<uint8_t> DistinctFile(char edition) {
    MemoryForm tables;
    FillDistinct(tables);
    TextGrid& config = tables.GridByName(Grid::StrGridConfig);
    for (int col = 0; col < 16; ++col)
        config.SetCell(col, 0, std::to_string(edition == '3' ? 65535 - col * 999 : 201));
    return EncodeTuningFile(tables, edition);
}

class CliTest : public testing::TestWithParam<char> {
  protected:
    TempDir dir;
};

TEST_P(CliTest, ExportThenImportGivesTheSameBytes) {
    const char edition = GetParam();
    const std::string bin = dir / "tune.bin";
    const std::vector<uint8_t> bytes = DistinctFile(edition);
    WriteBytes(bin, bytes);

    const CliRun exported = Cli(
        {"export", QString::fromStdString(bin), "-o", QString::fromStdString(dir / "tune.json")});
    ASSERT_EQ(exported.exitCode, 0) << exported.err.toStdString();
    const std::vector<uint8_t> jsonBytes = ReadBytes(dir / "tune.json");
    const QByteArray json(reinterpret_cast<const char*>(jsonBytes.data()),
                          static_cast<qsizetype>(jsonBytes.size()));
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    EXPECT_EQ(root["edition"].toString(), QString(QChar(edition)));
    EXPECT_EQ(root["programs"]["P9"]["CH2"]["MULTI%"].toArray().size(), 16);
    EXPECT_EQ(root["programs"]["P1"]["CH1"]["RPM"][0].toInt(), std::stoi(ValueAt(1, 0, 1, 0)));
    EXPECT_EQ(root["configuration"].toArray().size(), edition == '3' ? 16 : 1);

    const CliRun imported = Cli({"import", QString::fromStdString(dir / "tune.json"),
                                 QString::fromStdString(dir / "back.bin")});
    ASSERT_EQ(imported.exitCode, 0) << imported.err.toStdString();
    EXPECT_EQ(ReadBytes(dir / "back.bin"), bytes);

    // CSV to standard output: one line per table row and the configuration.
    const CliRun csv = Cli({"export", QString::fromStdString(bin), "--format", "csv"});
    ASSERT_EQ(csv.exitCode, 0) << csv.err.toStdString();
    const QList<QByteArray> lines = csv.out.trimmed().split('\n');
    EXPECT_EQ(lines.size(), 9 * 13 + 1);
    EXPECT_TRUE(
        lines[0].startsWith("P1,CH1,RPM," + QByteArray::fromStdString(ValueAt(1, 0, 1, 0)) + ","))
        << lines[0].toStdString();
    EXPECT_TRUE(lines.last().startsWith("configuration,,")) << lines.last().toStdString();

    // The CSV imports too: as written, and with its lines in another order, CR LF line ends
    // and blank lines at the end, as a spreadsheet or a script may leave it.
    QList<QByteArray> shuffled = lines;
    std::reverse(shuffled.begin(), shuffled.end());
    const struct {
        const char* name;
        QByteArray text;
    } csvs[] = {{"as exported", csv.out}, {"reordered", shuffled.join("\r\n") + "\r\n\r\n\n"}};
    for (const auto& text : csvs) {
        WriteBytes(dir / "tune.csv", std::vector<uint8_t>(text.text.begin(), text.text.end()));
        std::filesystem::remove(dir / "back.bin");
        const CliRun fromCsv = Cli({"import", QString::fromStdString(dir / "tune.csv"),
                                    QString::fromStdString(dir / "back.bin")});
        ASSERT_EQ(fromCsv.exitCode, 0) << text.name << ": " << fromCsv.err.toStdString();
        EXPECT_EQ(ReadBytes(dir / "back.bin"), bytes) << text.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Editions, CliTest, testing::Values('2', '3'),
                         [](const testing::TestParamInfo<char>& info) {
                             return std::string(info.param == '3' ? "three" : "two") + "Channels";
                         });

TEST(Cli, BadTextIsRefusedNamingThePlaceAndWritesNothing) {
    TempDir dir;
    WriteBytes(dir / "tune.bin", DistinctFile('3'));
    ASSERT_EQ(Cli({"export", QString::fromStdString(dir / "tune.bin"), "-o",
                   QString::fromStdString(dir / "tune.json")})
                  .exitCode,
              0);
    const std::vector<uint8_t> bytes = ReadBytes(dir / "tune.json");
    const std::string good(bytes.begin(), bytes.end());
    struct Row {
        const char* name;
        std::string json;
        const char* message;
    };
    std::string outOfRange = good;
    outOfRange.replace(outOfRange.find("\"RPM\": [") + 8, 0, "40000, ");
    const Row rows[] = {
        {"not JSON", "{ nope", "Not a JSON object"},
        {"no edition", "{}", "\"edition\" must be \"2\" or \"3\""},
        {"a row too long", outOfRange, "P1 CH1 RPM must be a list of 16 whole numbers"},
        {"a missing program", R"({"edition": "2", "programs": {}})", "P1 CH1 RPM must be a list"},
    };
    for (const Row& row : rows) {
        WriteBytes(dir / "in.json", std::vector<uint8_t>(row.json.begin(), row.json.end()));
        const CliRun run = Cli({"import", QString::fromStdString(dir / "in.json"),
                                QString::fromStdString(dir / "out.bin")});
        EXPECT_EQ(run.exitCode, 1) << row.name;
        EXPECT_TRUE(run.err.contains(row.message)) << row.name << ": " << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << "one line";
        EXPECT_FALSE(std::filesystem::exists(dir / "out.bin")) << row.name;
    }
    // A value beyond what the box stores, in place of a good one.
    std::string big = good;
    const size_t rpm = big.find("\"RPM\": [") + 8;
    big.replace(rpm, big.find(',', rpm) - rpm, "\n 40000");
    WriteBytes(dir / "in.json", std::vector<uint8_t>(big.begin(), big.end()));
    const CliRun run = Cli({"import", QString::fromStdString(dir / "in.json"),
                            QString::fromStdString(dir / "out.bin")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("P1 CH1 RPM value 1 must be a whole number from -32768 to 32767"))
        << run.err.toStdString();
}

TEST(Cli, BadCsvIsRefusedNamingItsLineAndWritesNothing) {
    TempDir dir;
    QList<QByteArray> lines[2];
    for (const char edition : {'2', '3'}) {
        WriteBytes(dir / "tune.bin", DistinctFile(edition));
        const CliRun csv =
            Cli({"export", QString::fromStdString(dir / "tune.bin"), "--format", "csv"});
        ASSERT_EQ(csv.exitCode, 0) << csv.err.toStdString();
        lines[edition - '2'] = csv.out.trimmed().split('\n');
        ASSERT_EQ(lines[edition - '2'].size(), 118);
    }
    // The 3-channel export with one line changed (-1: without it), or with a line added.
    const auto changed = [&](qsizetype line, const QByteArray& text, char edition = '3') {
        QList<QByteArray> copy = lines[edition - '2'];
        if (line >= copy.size()) {
            copy.append(text);
        } else if (text.isNull()) {
            copy.removeAt(line);
        } else {
            copy[line] = text;
        }
        return copy.join('\n') + '\n';
    };
    const QByteArray rpm = lines[1][0];
    const QByteArray press = lines[1][2];
    const struct {
        const char* name;
        QByteArray csv;
        const char* message;
    } rows[] = {
        {"no such table", changed(0, QByteArray(rpm).replace("CH1", "CH4")),
         "Line 1 of the CSV: \"P1,CH4,RPM\" names no table row"},
        {"a blank line in the middle", changed(4, ""),
         "Line 5 of the CSV: \"\" names no table row"},
        {"a value beyond what the box stores",
         changed(2, "P1,CH1,PRESS,40000" + press.mid(press.indexOf(',', 13))),
         "Line 3 of the CSV: P1 CH1 PRESS value 1 (\"40000\") must be a whole number from -32768 "
         "to 32767."},
        {"a value that is no number",
         changed(2, "P1,CH1,PRESS,12a" + press.mid(press.indexOf(',', 13))),
         "Line 3 of the CSV: P1 CH1 PRESS value 1 (\"12a\") must be a whole number"},
        {"a short row", changed(12, lines[1][12].left(lines[1][12].lastIndexOf(','))),
         "Line 13 of the CSV: P1 FUEL% has 15 values; it must have 16."},
        {"a missing row", changed(4, QByteArray()), "The CSV has no line for P1 CH2 RPM."},
        {"a row twice", changed(118, rpm),
         "Line 119 of the CSV: P1 CH1 RPM comes a second time (first in line 1)."},
        {"no configuration", changed(117, QByteArray()), "The CSV has no configuration line."},
        {"a configuration of neither edition", changed(117, "configuration,,,1,2,3"),
         "Line 118 of the CSV: the configuration has 3 values; it has 16 (3-channel box) or 1"},
        {"a 2-channel configuration beyond a byte", changed(117, "configuration,,,300", '2'),
         "Line 118 of the CSV: configuration value 1 (\"300\") must be a whole number from 0 to "
         "255."},
        {"empty", "", "The CSV has no configuration line."},
    };
    for (const auto& row : rows) {
        WriteBytes(dir / "in.csv", std::vector<uint8_t>(row.csv.begin(), row.csv.end()));
        const CliRun run = Cli({"import", QString::fromStdString(dir / "in.csv"),
                                QString::fromStdString(dir / "out.bin")});
        EXPECT_EQ(run.exitCode, 1) << row.name;
        EXPECT_TRUE(run.err.contains(row.message)) << row.name << ": " << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << row.name << ": one line";
        EXPECT_FALSE(std::filesystem::exists(dir / "out.bin")) << row.name;
    }
}

TEST(Cli, UsageErrorsEndWithTwoAndHelpAndVersionWithZero) {
    struct Row {
        QStringList arguments;
        int exitCode;
        const char* says;
    };
    const Row rows[] = {
        {{}, 2, "Usage: corvane-zel-cli"},
        {{"bogus"}, 2, "unknown command \"bogus\""},
        {{"export"}, 2, "usage: corvane-zel-cli export IN.bin"},
        {{"export", "a.bin", "--format", "xml"}, 2, "--format must be json or csv"},
        {{"import", "only.json"}, 2, "usage: corvane-zel-cli import IN.json OUT.bin"},
        {{"export", "missing.bin"}, 1, "Cannot open \"missing.bin\": the file does not exist."},
        {{"send"}, 2, "usage: corvane-zel-cli send IN.bin [--serial NNNNNNNN]"},
        {{"verify", "a.bin", "b.bin"}, 2, "usage: corvane-zel-cli verify IN.bin"},
        {{"live", "--seconds", "0"}, 2, "--seconds takes a number of seconds above 0"},
        {{"live", "--seconds", "soon"}, 2, "--seconds takes a number of seconds above 0"},
        {{"live", "--help"}, 0, "--csv <FILE>"},
        {{"--help"}, 0, "Commands:"},
        {{"export", "--help"}, 0, "--format <format>"},
        {{"--version"}, 0, "corvane-zel-cli 1.32"},
        // The box's options before the command.
        {{"--port"}, 2, "--port needs a value"},
        {{"--port", "/dev/ttyUSB0"}, 2, "no command after --port /dev/ttyUSB0"},
        {{"--port", "/dev/ttyUSB0", "bogus"}, 2, "unknown command \"bogus\""},
        {{"--simulate", "4", "info"}, 2, "--simulate takes 2 or 3"},
        {{"--simulate=3", "export", "a.bin"}, 2, "Unknown option 'simulate'"},
        {{"--port", "/dev/ttyUSB0", "ports"}, 2, "Unknown option 'port'"},
        {{"--port", "/dev/ttyUSB0", "--help"}, 0, "Commands:"},
        {{"--port", "/dev/ttyUSB0", "live", "--help"}, 0, "--csv <FILE>"},
        {{"--port", "/dev/nonexistent-port", "info"}, 1, "/dev/nonexistent-port"},
    };
    for (const Row& row : rows) {
        const CliRun run = Cli(row.arguments);
        EXPECT_EQ(run.exitCode, row.exitCode) << row.arguments.join(' ').toStdString();
        EXPECT_TRUE((run.out + run.err).contains(row.says))
            << row.arguments.join(' ').toStdString() << ": " << (run.out + run.err).toStdString();
    }
}

class CliBoxTest : public testing::TestWithParam<char> {
  protected:
    void SetUp() override {
        BoxSimOptions options;
        options.serial = GetParam() == '3' ? "30012345" : "20012345";
        options.pacing = false;
        box = std::make_unique<BoxSimulator>(options);
        ASSERT_TRUE(box->Start()) << box->LastError();
        port = QString::fromStdString(box->PortPath());
    }
    void TearDown() override { box->Stop(); }
    std::unique_ptr<BoxSimulator> box;
    QString port;
    TempDir dir;
};

TEST_P(CliBoxTest, DownloadInfoAndSelectAgainstTheBox) {
    const char edition = GetParam();
    const QString bin = QString::fromStdString(dir / "box.bin");
    const CliRun download = Cli({"download", "--port", port, bin});
    ASSERT_EQ(download.exitCode, 0) << download.err.toStdString();
    EXPECT_EQ(ReadBytes(bin.toStdString()).size(),
              edition == '3' ? kTuningFileSize3 : kTuningFileSize2);
    // The file holds the box's maps: its RPM rows rise from 1000 in steps of 500.
    const CliRun exported = Cli({"export", bin});
    const QJsonObject root = QJsonDocument::fromJson(exported.out).object();
    const QJsonArray rpm = root["programs"]["P2"]["CH2"]["RPM"].toArray();
    ASSERT_EQ(rpm.size(), 16);
    for (int c = 0; c < 16; ++c) EXPECT_EQ(rpm[c].toInt(), 1000 + 500 * c);

    // The port from the environment, or given before or after the command.
    const struct {
        QStringList arguments;
        QString portVariable;
    } infos[] = {
        {{"info", "--json"}, port},
        {{"--port", port, "info", "--json"}, {}},
        {{"--port=" + port, "info", "--json"}, {}},
        {{"info", "--port", port, "--json"}, {}},
        {{"--port", "/dev/nonexistent-port", "info", "--json", "--port", port}, {}},
    };
    for (const auto& row : infos) {
        const CliRun info = Cli(row.arguments, row.portVariable);
        ASSERT_EQ(info.exitCode, 0)
            << row.arguments.join(' ').toStdString() << ": " << info.err.toStdString();
        const QJsonObject facts = QJsonDocument::fromJson(info.out).object();
        EXPECT_EQ(facts["serial"].toString().toStdString(), box->Contents().serial);
        EXPECT_EQ(facts["edition"].toString(), QString(QChar(edition)));
        EXPECT_EQ(facts["configuration"].toArray().size(), edition == '3' ? 16 : 1);
    }

    box->ClearLogs();
    const CliRun select = Cli({"select", "4", "--port", port});
    ASSERT_EQ(select.exitCode, 0) << select.err.toStdString();
    bool selected = false;
    for (const ReceivedCommand& command : box->Received())
        selected |= command.code == Cmd::SelectProgram && command.data == std::vector<uint8_t>{4};
    EXPECT_TRUE(selected);

    const CliRun noPort = Cli({"info"});
    EXPECT_EQ(noPort.exitCode, 2);
    EXPECT_TRUE(noPort.err.contains("no port")) << noPort.err.toStdString();
    const CliRun badPort = Cli({"download", "--port", "/dev/nonexistent-port", bin});
    EXPECT_EQ(badPort.exitCode, 1);
    EXPECT_TRUE(badPort.err.contains("/dev/nonexistent-port")) << badPort.err.toStdString();
}

// The write commands of either edition's send chain.
bool WroteAnything(const BoxSimulator& box) {
    for (const ReceivedCommand& command : box.Received()) {
        const CommandRow* row = FindCommand(command.code, box.Contents().Edition());
        if (row != nullptr && row->answer == AnswerKind::Ack && command.code != Cmd::SelectProgram)
            return true;
    }
    return false;
}

TEST_P(CliBoxTest, SendBacksUpWritesAndVerifiesTheBox) {
    const char edition = GetParam();
    const std::string tune = dir / "tune.bin";
    WriteBytes(tune, DistinctFile(edition));
    const QString before = QString::fromStdString(dir / "before.bin");
    ASSERT_EQ(Cli({"download", "--port", port, before}).exitCode, 0);

    // Every value of the box differs from the file before the send.
    const CliRun differs = Cli({"verify", "--port", port, QString::fromStdString(tune)});
    EXPECT_EQ(differs.exitCode, 1);
    const QList<QByteArray> lines = differs.out.trimmed().split('\n');
    EXPECT_GT(lines.size(), 100);
    EXPECT_TRUE(lines[0].startsWith("P1 CH1 RPM_1 column 1: box 1000, file "))
        << lines[0].toStdString();
    EXPECT_TRUE(
        differs.err.contains(QByteArray::number(lines.size()) + " values differ from tune.bin"))
        << differs.err.toStdString();

    // A dry run lists the same values as the send would change, and writes nothing.
    box->ClearLogs();
    const CliRun dry = Cli({"send", "--port", port, QString::fromStdString(tune), "--dry-run"});
    ASSERT_EQ(dry.exitCode, 0) << dry.err.toStdString();
    const QList<QByteArray> changes = dry.out.trimmed().split('\n');
    EXPECT_EQ(changes.size(), lines.size());
    EXPECT_TRUE(changes[0].startsWith("P1 CH1 RPM_1 column 1: 1000 \xE2\x86\x92 "))
        << changes[0].toStdString();
    EXPECT_TRUE(dry.err.contains(QByteArray::number(changes.size()) +
                                 " values would change on box " + QByteArray(1, edition)))
        << dry.err.toStdString();
    for (const ReceivedCommand& command : box->Received())
        EXPECT_FALSE(IsSendWrite(command.code)) << "wrote " << int(command.code);

    const QString serial = QString(QChar(edition)) + "7654321";
    QDir(BackupFolder()).removeRecursively();
    const CliRun send =
        Cli({"send", "--port", port, QString::fromStdString(tune), "--serial", serial});
    ASSERT_EQ(send.exitCode, 0) << send.err.toStdString();
    EXPECT_EQ(send.out, "Sent and verified.\n");
    EXPECT_TRUE(send.err.startsWith("Backup of box")) << send.err.toStdString();
    EXPECT_EQ(box->Contents().serial, serial.toStdString());
    // The backup holds the box as it was; the box now holds the file.
    const QStringList backups = QDir(BackupFolder()).entryList({"*.bin"}, QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_EQ(ReadBytes((BackupFolder() + '/' + backups[0]).toStdString()),
              ReadBytes(before.toStdString()));
    const QString after = QString::fromStdString(dir / "after.bin");
    ASSERT_EQ(Cli({"download", "--port", port, after}).exitCode, 0);
    EXPECT_EQ(ReadBytes(after.toStdString()), ReadBytes(tune));
    const CliRun same = Cli({"verify", "--port", port, QString::fromStdString(tune)});
    EXPECT_EQ(same.exitCode, 0) << same.out.toStdString() << same.err.toStdString();
    EXPECT_EQ(same.out, "No differences from tune.bin\n");
}

TEST_P(CliBoxTest, SendRefusesBeforeTheFirstByteAndReportsABadReadBack) {
    const char edition = GetParam();
    const char other = edition == '3' ? '2' : '3';
    const std::string tune = dir / "tune.bin";
    const std::string otherTune = dir / "other.bin";
    WriteBytes(tune, DistinctFile(edition));
    WriteBytes(otherTune, DistinctFile(other));
    struct Row {
        const char* name;
        QStringList arguments;
        int exitCode;
        QString says;
    };
    const Row rows[] = {
        {"file of the other edition",
         {"send", QString::fromStdString(otherTune)},
         1,
         QString("is a tuning file for a %1-channel box; the box on %2 has %3 channels. Nothing "
                 "was sent.")
             .arg(other)
             .arg(port)
             .arg(edition)},
        {"serial of the other edition",
         {"send", QString::fromStdString(tune), "--serial", QString(QChar(other)) + "0000001"},
         1,
         "Nothing was sent."},
        {"serial too short",
         {"send", QString::fromStdString(tune), "--serial", "3001"},
         2,
         "--serial needs 8 letters and digits"},
        {"serial of no edition",
         {"send", QString::fromStdString(tune), "--serial", "90000001"},
         2,
         "The serial number must start with 2 or 3"},
        {"no such file",
         {"send", QString::fromStdString(dir / "none.bin")},
         1,
         "the file does not exist"},
        {"not a tuning file",
         {"send", QString::fromStdString(dir.Path().string())},
         1,
         "Cannot open"},
        {"verify, other edition",
         {"verify", QString::fromStdString(otherTune)},
         1,
         "channel box; the box on"},
    };
    for (const Row& row : rows) {
        box->ClearLogs();
        const CliRun run = Cli(row.arguments + QStringList{"--port", port});
        EXPECT_EQ(run.exitCode, row.exitCode) << row.name << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(row.says.toUtf8()))
            << row.name << ": " << run.err.toStdString();
        EXPECT_FALSE(WroteAnything(*box)) << row.name;
    }

    // A box that stores one image byte wrongly: the read-back names the cell, exit 1.
    BoxSimFaults faults;
    faults.wrongImageByte = 1;
    box->SetFaults(faults);
    const CliRun bad = Cli({"send", "--port", port, QString::fromStdString(tune)});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_TRUE(bad.err.contains("Verify failed: P1 CH1 RPM_1 column 1: sent "))
        << bad.err.toStdString();
    EXPECT_TRUE(bad.out.isEmpty()) << bad.out.toStdString();
}

// The lines of a live recording after its header, each split into its fields.
std::vector<QList<QByteArray>> LiveRows(const QByteArray& csv) {
    const QList<QByteArray> lines = csv.split('\n');
    EXPECT_EQ(lines.value(0), QByteArray(kLiveCsvHeader));
    EXPECT_TRUE(lines.last().isEmpty()) << "the last line is whole";
    std::vector<QList<QByteArray>> rows;
    for (qsizetype k = 1; k + 1 < lines.size(); ++k) rows.push_back(lines[k].split(','));
    return rows;
}

void ExpectOneRowPerMessage(const std::vector<QList<QByteArray>>& rows,
                            const std::vector<LiveSample>& sent, int program) {
    ASSERT_EQ(rows.size(), sent.size());
    double last = 0;
    for (size_t k = 0; k < rows.size(); ++k) {
        const QList<QByteArray>& f = rows[k];
        ASSERT_EQ(f.size(), 8) << "line " << k + 2;
        const LiveSample got{f[1].toUShort(), f[2].toUShort(), f[3].toUShort(),
                             f[4].toUShort(), f[5].toUShort(), f[6].toUShort()};
        EXPECT_EQ(got, sent[k]) << "line " << k + 2;
        EXPECT_EQ(f[7].toInt(), program) << "line " << k + 2;
        EXPECT_EQ(f[0].size() - f[0].indexOf('.'), 7) << "microseconds: " << f[0].toStdString();
        EXPECT_GE(f[0].toDouble(), last) << "line " << k + 2;
        last = f[0].toDouble();
    }
}

TEST_P(CliBoxTest, LiveWritesALinePerMessageUntilTheTimeOrASignal) {
    const char edition = GetParam();
    box->SetLiveInterval(std::chrono::microseconds(2000));
    const int program = box->Contents().runningProgram;

    // Stopped by a signal (Ctrl+C for one edition, a termination for the other) while the
    // stream runs fast: the stream is switched off and the file holds every message.
    const QString csv = QString::fromStdString(dir / "live.csv");
    QProcess process;
    Start(process, {"live", "--port", port, "--csv", csv});
    ASSERT_TRUE(QTest::qWaitFor([&] { return box->LiveSent().size() >= 300; }, 20000))
        << process.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(process.processId()), edition == '3' ? SIGINT : SIGTERM);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_FALSE(box->LiveOn()) << "the stream is switched off";
    const std::vector<uint8_t> bytes = ReadBytes(csv.toStdString());
    ExpectOneRowPerMessage(LiveRows(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<qsizetype>(bytes.size()))),
                           box->LiveSent(), program);
    const QByteArray out = process.readAllStandardOutput();
    EXPECT_TRUE(out.startsWith(QByteArray::number(box->LiveSent().size()) + " live messages in "))
        << out.toStdString();
    EXPECT_TRUE(out.contains("Dyno log maxima, programs 1 to 9:\nRPM        1000   1500"))
        << out.toStdString();

    // For a time, to standard output; the maxima then go to standard error.
    box->ClearLogs();
    const CliRun timed = Cli({"live", "--port", port, "--seconds", "0.4", "--csv", "-"});
    ASSERT_EQ(timed.exitCode, 0) << timed.err.toStdString();
    EXPECT_GT(box->LiveSent().size(), 50u);
    ExpectOneRowPerMessage(LiveRows(timed.out), box->LiveSent(), program);
    EXPECT_TRUE(timed.err.contains("Dyno log maxima, program 0:")) << timed.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Editions, CliBoxTest, testing::Values('2', '3'),
                         [](const testing::TestParamInfo<char>& info) {
                             return std::string(info.param == '3' ? "three" : "two") + "Channels";
                         });

TEST(Cli, ProgressBarOnlyOnATerminal) {
    // script(1) runs the program with a pseudo-terminal as its standard error.
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    if (script.isEmpty()) GTEST_SKIP() << "script(1) is not installed; no terminal to draw on";
    TempDir dir;
    const QString bin = QString::fromStdString(dir / "box.bin");
    QProcess process;
    process.start(script,
                  {"-qec", QString(CLI_PATH) + " download --simulate 2 " + bin, "/dev/null"});
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 0);
    const QByteArray shown = process.readAllStandardOutput();
    EXPECT_TRUE(shown.contains("\rdownload [")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("[##############################] 2326/2326 bytes"))
        << shown.toStdString();

    // Into a pipe: only the file.
    const CliRun piped = Cli({"download", "--simulate", "2", bin});
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_TRUE(piped.err.isEmpty() && piped.out.isEmpty()) << piped.err.toStdString();
}

TEST(Cli, SimulatesABoxOfEitherEdition) {
    for (const QString edition : {"2", "3"}) {
        for (const QStringList& arguments :
             {QStringList{"info", "--json", "--simulate", edition},
              QStringList{"--simulate", edition, "info", "--json"},
              QStringList{"--simulate=" + edition, "info", "--json"}}) {
            const CliRun info = Cli(arguments);
            ASSERT_EQ(info.exitCode, 0)
                << arguments.join(' ').toStdString() << ": " << info.err.toStdString();
            EXPECT_EQ(QJsonDocument::fromJson(info.out).object()["edition"].toString(), edition);
        }
    }
    EXPECT_EQ(Cli({"info", "--simulate", "4"}).exitCode, 2);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
