#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "BoxSimulator.h"
#include "MemoryForm.h"
#include "TestSupport.h"
#include "TuningFile.h"

namespace {

struct CliRun {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

CliRun Cli(const QStringList& arguments, const QString& portVariable = {}) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("CORVANE_PORT"));
    if (!portVariable.isEmpty()) environment.insert(QStringLiteral("CORVANE_PORT"), portVariable);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(CLI_PATH), arguments);
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
        {{"--help"}, 0, "Commands:"},
        {{"export", "--help"}, 0, "--format <format>"},
        {{"--version"}, 0, "corvane-zel-cli 1.32"},
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

    // The port from the environment.
    const CliRun info = Cli({"info", "--json"}, port);
    ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
    const QJsonObject facts = QJsonDocument::fromJson(info.out).object();
    EXPECT_EQ(facts["serial"].toString().toStdString(), box->Contents().serial);
    EXPECT_EQ(facts["edition"].toString(), QString(QChar(edition)));
    EXPECT_EQ(facts["configuration"].toArray().size(), edition == '3' ? 16 : 1);

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

INSTANTIATE_TEST_SUITE_P(Editions, CliBoxTest, testing::Values('2', '3'),
                         [](const testing::TestParamInfo<char>& info) {
                             return std::string(info.param == '3' ? "three" : "two") + "Channels";
                         });

TEST(Cli, SimulatesABoxOfEitherEdition) {
    for (const char* edition : {"2", "3"}) {
        const CliRun info = Cli({"info", "--json", "--simulate", edition});
        ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(info.out).object()["edition"].toString(), edition);
    }
    EXPECT_EQ(Cli({"info", "--simulate", "4"}).exitCode, 2);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
