#include <signal.h>
#include <sys/resource.h>

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "BackupStore.h"
#include "Functions.h"
#include "Recovery.h"
#include "TableLayout.h"
#include "TestSupport.h"
#include "WindowFixture.h"

namespace {

using PT = ProgramTable;

class FilesTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        TForm1::SetFileChooser([this](QFileDialog* dialog) {
            ++dialogsShown;
            filters = dialog->nameFilters();
            return chosen;
        });
    }
    void TearDown() override {
        TForm1::SetFileChooser({});
        WindowTest::TearDown();
    }
    void Save(const std::string& name) {
        chosen = QString::fromStdString(name);
        form->ButtonSaveFile->click();
    }
    void Open(const std::string& name) {
        chosen = QString::fromStdString(name);
        form->ButtonOpenFile->click();
    }

    TempDir dir;
    QString chosen;
    QStringList filters;
    int dialogsShown = 0;
};

TEST_F(FilesTest, ThreeChannelSaveAndOpenRestoreEveryText) {
    form->Vars().BoxSerial = "31234567";
    FillDistinct(*form);
    for (int k = 0; k < 16; ++k)
        form->GridByName(Grid::StrGridConfig).SetCell(k, 0, std::to_string(65535 - k));
    const auto tables = AllProgramTexts(*form);

    Save(dir / "tune");
    EXPECT_EQ(filters, QStringList({"Binnary files (*.bin)"}));
    const std::vector<uint8_t> bytes = ReadBytes(dir / "tune.bin");
    ASSERT_EQ(bytes.size(), 3776u);
    // P1 CH1 RPM column 1 at the start, P9 FUEL% column 16 at the end of the image, then
    // the configuration row.
    const auto word = [&](size_t at) {
        return static_cast<int16_t>((bytes[at] << 8) | bytes[at + 1]);
    };
    EXPECT_EQ(std::to_string(word(0)), ValueAt(1, 0, 1, 0));
    EXPECT_EQ(std::to_string(word(3742)), ValueAt(9, 3, 16, 0));
    EXPECT_EQ(bytes[3744], 0xFF);
    EXPECT_EQ(bytes[3745], 0xFF);
    EXPECT_EQ(bytes[3775], 0xF0);

    for (int n = 1; n <= 9; ++n) Grid(n, PT::CH2)->SetCell(8, 1, "edited");
    form->GridByName(Grid::StrGridConfig).SetCell(3, 0, "edited");
    Open(dir / "tune.bin");
    EXPECT_EQ(AllProgramTexts(*form), tables);
    EXPECT_EQ(form->GridByName(Grid::StrGridConfig).Cell(3, 0), "65532");
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(FilesTest, TwoChannelSaveAndOpenIntoAThreeChannelWindow) {
    form->Vars().BoxSerial = "21234567";
    FillDistinct(*form);
    form->GridByName(Grid::StrGridConfig).SetCell(0, 0, "200");
    Save(dir / "two");
    const std::vector<uint8_t> bytes = ReadBytes(dir / "two.bin");
    ASSERT_EQ(bytes.size(), 2305u);
    EXPECT_EQ(bytes[2304], 200);

    form->Vars().BoxSerial = "31234567";
    ApplyEditionLayout(*form, '3');
    FillDistinct(*form);
    for (int n = 1; n <= 9; ++n) Grid(n, PT::CH1)->SetCell(1, 0, "x");
    form->GridByName(Grid::StrGridConfig).SetCell(0, 0, "1");
    form->GridByName(Grid::StrGridConfig).SetCell(1, 0, "keep");
    Open(dir / "two.bin");
    for (int n = 1; n <= 9; ++n) {
        EXPECT_EQ(Grid(n, PT::CH1)->Cell(1, 0), ValueAt(n, 0, 1, 0));
        EXPECT_EQ(Grid(n, PT::CH3)->Cell(16, 3), "0");
        EXPECT_EQ(Grid(n, PT::Fuel)->Cell(1, 0), "0");
    }
    EXPECT_EQ(form->GridByName(Grid::StrGridConfig).Cell(0, 0), "200");
    EXPECT_EQ(form->GridByName(Grid::StrGridConfig).Cell(1, 0), "keep");
    EXPECT_EQ(form->Vars().BoxSerial, "31234567") << "opening a file leaves the edition";
}

// Opening a file in a session whose box it does not fit: a 2-channel file holds no CH3 and
// FUEL%, so their cells become 0 and the next send would write them. The status bar says so,
// or, for any other file, what it says about the connection.
struct OpenCase {
    const char* name;
    bool fromList;  // the file list's double click, else "Open file"
    char session;   // the box's edition
    char file;      // the file's
    bool said;
};

void PrintTo(const OpenCase& row, std::ostream* os) {
    *os << row.name;
}

class OpenIntoSession : public FilesTest, public testing::WithParamInterface<OpenCase> {};

TEST_P(OpenIntoSession, TheStatusBarSaysWhatA2ChannelFileSetTo0AndCtrlZTakesItBack) {
    const OpenCase& row = GetParam();
    MemoryForm source;
    FillDistinct(source);
    for (int k = 0; k < 16; ++k) source.GridByName(Grid::StrGridConfig).SetCell(k, 0, "9");
    const std::string fileName = std::string("tune") + row.file + ".bin";
    WriteBytes(dir / fileName, EncodeTuningFile(source, row.file));
    // The file list shows and opens the files of the working folder.
    struct WorkIn {
        explicit WorkIn(const std::string& folder) {
            QDir::setCurrent(QString::fromStdString(folder));
        }
        ~WorkIn() { QDir::setCurrent(previous); }
        const QString previous = QDir::currentPath();
    } workIn(dir.Path().string());
    form = std::make_unique<TForm1>();
    form->show();
    QApplication::setActiveWindow(form.get());

    form->Vars().BoxSerial = row.session == '3' ? "31234567" : "21234567";
    ApplyEditionLayout(*form, row.session);
    FillDistinct(*form);
    for (int n = 1; n <= 9; ++n) {
        Grid(n, PT::CH1)->SetCell(7, 2, "1");
        Grid(n, PT::CH3)->SetCell(7, 2, "3");
    }
    const auto before = AllProgramTexts(*form);
    form->StatusBar1->showMessage(QStringLiteral("an earlier note"));

    if (row.fromList) {
        ASSERT_EQ(form->FileListBox1->count(), 1);
        QListWidgetItem* item = form->FileListBox1->item(0);
        QListWidget* list = form->FileListBox1;
        const QPoint at = list->visualItemRect(item).center();
        // A view takes a double click on the item its press was on.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    } else {
        Open(dir / fileName);
    }
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(Grid(5, PT::CH1)->Cell(7, 2), ValueAt(5, 0, 7, 2)) << "the file was opened";
    EXPECT_EQ(Grid(5, PT::CH3)->Cell(7, 2), row.file == '2' ? "0" : ValueAt(5, 2, 7, 2));
    EXPECT_EQ(form->StatusBar1->currentMessage(),
              row.said ? QString::fromStdString(fileName +
                                                " is a 2-channel file: CH3 and FUEL% were set to "
                                                "0; Ctrl+Z takes it back")
                       : QStringLiteral("Not connected"));

    QTest::keyClick(Focus(5, PT::CH1, 7, 2), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(AllProgramTexts(*form), before) << "Ctrl+Z takes the whole file back";
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenIntoSession,
    testing::Values(OpenCase{"TwoChannelFileByOpenFile", false, '3', '2', true},
                    OpenCase{"TwoChannelFileFromTheList", true, '3', '2', true},
                    OpenCase{"TwoChannelFileInATwoChannelSession", false, '2', '2', false},
                    OpenCase{"ThreeChannelFile", true, '3', '3', false}),
    [](const testing::TestParamInfo<OpenCase>& info) { return std::string(info.param.name); });

TEST_F(FilesTest, ChosenNameIsTheNameWritten) {
    form->Vars().BoxSerial = "21234567";
    for (const char* name : {"a.bin", "B.BIN", "c.Bin", "d"}) {
        Save(dir / name);
    }
    const std::set<std::string> expected = {"a.bin", "B.BIN", "c.Bin", "d.bin"};
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        written.insert(entry.path().filename().string());
    }
    EXPECT_EQ(written, expected);
}

TEST_F(FilesTest, NothingToSaveBeforeABoxWasReadOrWithABadCell) {
    Save(dir / "none");
    EXPECT_EQ(dialogsShown, 0);

    form->Vars().BoxSerial = "31234567";
    Grid(9, PT::Fuel)->SetCell(16, 0, "");
    Save(dir / "bad");
    EXPECT_EQ(dialogsShown, 0) << "encoding fails before the dialog";
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0], "'' is not a valid integer value");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));

    // A number the box cannot store is refused as a send refuses it, not wrapped.
    struct Unstorable {
        char edition;
        int program;  // 0: the configuration row
        int col;
        const char* text;
        const char* message;
    };
    const Unstorable rows[] = {
        {'3', 4, 2, "-40000",
         "P4 FUEL FUEL% column 2: -40000 is outside -32768 to 32767. Nothing was saved."},
        {'3', 0, 15, "65536",
         "Service Configuration column 16: 65536 is outside 0 to 65535. Nothing was saved."},
        {'2', 0, 0, "256",
         "Service Configuration column 1: 256 is outside 0 to 255. Nothing was saved."},
    };
    Grid(9, PT::Fuel)->SetCell(16, 0, "0");
    for (const Unstorable& row : rows) {
        errors.clear();
        form->Vars().BoxSerial = row.edition == '3' ? "31234567" : "21234567";
        ApplyEditionLayout(*form, row.edition);
        TStringGrid* grid = row.program > 0 ? Grid(row.program, PT::Fuel) : form->StrGridConfig;
        grid->SetCell(row.col, 0, row.text);
        form->PageControl1->setCurrentIndex(7);
        Save(dir / "wrapped");
        EXPECT_EQ(dialogsShown, 0) << row.text;
        ASSERT_EQ(errors.size(), 1) << row.text;
        EXPECT_EQ(errors[0].toStdString(), row.message);
        EXPECT_EQ(form->PageIndex(), row.program);
        EXPECT_EQ(grid->currentColumn(), row.col);
        EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
        grid->SetCell(row.col, 0, "0");
    }

    errors.clear();
    Save("");  // cancelled
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST_F(FilesTest, FailedSaveKeepsTheOldFileAndSaysSo) {
    form->Vars().BoxSerial = "31234567";
    const std::string path = dir / "old.bin";
    const std::vector<uint8_t> old(3776, 0x42);
    WriteBytes(path, old);

    // The disk refuses bytes past 1000: the write fails partway through the file.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved;
    limit.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &limit);
    Save(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);

    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].startsWith(QString("Cannot save \"%1\": ").arg(path.c_str())))
        << errors[0].toStdString();
    EXPECT_EQ(ReadBytes(path), old);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"old.bin"}) << "no temporary file left behind";

    errors.clear();
    Save(dir / "missing-folder/x.bin");
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("missing-folder/x.bin"));
}

TEST_F(FilesTest, OpeningAFileOfTheWrongSizeChangesNothingAndSaysWhy) {
    FillDistinct(*form);
    const auto tables = AllProgramTexts(*form);
    const std::string path = dir / "short.bin";
    WriteBytes(path, std::vector<uint8_t>(3775, 1));
    Open(path);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0].toStdString(),
              "Cannot open \"" + path +
                  "\": its size is 3775 bytes, but a tuning file has 2305 bytes (2 channels) or "
                  "3776 bytes (3 channels).");
    EXPECT_EQ(AllProgramTexts(*form), tables);

    errors.clear();
    Open("");  // cancelled
    EXPECT_TRUE(errors.isEmpty());
    EXPECT_EQ(AllProgramTexts(*form), tables);
}

TEST_F(FilesTest, OpenDialogOffersBinFilesOfEitherCase) {
    for (const char* name : {"a.bin", "B.BIN", "c.txt"}) WriteBytes(dir / name, {1});
    QFileDialog* dialog = form->FileDialog(false);
    dialog->setNameFilter(TForm1::kTuningFileFilter);
    dialog->setDirectory(QString::fromStdString(dir.Path().string()));
    dialog->show();
    auto* view = dialog->findChild<QListView*>("listView");
    ASSERT_NE(view, nullptr);
    const auto offered = [&] {
        QStringList names;
        QAbstractItemModel* model = view->model();
        for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
            const QModelIndex index = model->index(row, 0, view->rootIndex());
            if (model->flags(index) & Qt::ItemIsEnabled) names << index.data().toString();
        }
        names.sort();
        return names;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return offered().size() >= 2; }));
    EXPECT_EQ(offered(), QStringList({"B.BIN", "a.bin"}));
    dialog->hide();
}

TEST(FileList, ListsTheWorkingFoldersBinFilesAndOpensOnDoubleClick) {
    TempDir dir;
    MemoryForm source;
    FillDistinct(source);
    source.GridByName(Grid::StrGridConfig).SetCell(0, 0, "7");
    WriteBytes(dir / "tune.BIN", EncodeTuningFile(source, '2'));
    WriteBytes(dir / "a.bin", std::vector<uint8_t>(10, 0));
    WriteBytes(dir / "readme.txt", {1});
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.Path().string()));
    QStringList errors;
    SetErrorPresenter([&](const QString& message) { errors << message; });
    {
        TForm1 window;
        QStringList items;
        for (int i = 0; i < window.FileListBox1->count(); ++i)
            items << window.FileListBox1->item(i)->text();
        EXPECT_EQ(items, QStringList({"a.bin", "tune.BIN"}));

        window.FileListBox1DblClick();  // nothing selected
        EXPECT_TRUE(errors.isEmpty());
        window.FileListBox1->setCurrentRow(1);
        window.FileListBox1DblClick();
        EXPECT_EQ(window.ProgramGrid(9, PT::CH2).Cell(16, 3), ValueAt(9, 1, 16, 3));
        EXPECT_TRUE(errors.isEmpty());

        window.FileListBox1->setCurrentRow(0);
        window.FileListBox1DblClick();
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].startsWith("Cannot open \"a.bin\": its size is 10 bytes"));
    }
    SetErrorPresenter({});
    QDir::setCurrent(previous);
}

}  // namespace

namespace {

// "Backups…" lists the data folder's backups newest first; Compare marks what differs from
// the chosen one, Open opens it as one undo step, "Show in folder" opens the folder.
TEST_F(FilesTest, BackupsAreListedComparedAndOpened) {
    QTemporaryDir data;
    const DataHome dataHome(data.path());
    form->Vars().BoxSerial = "31234567";
    ApplyEditionLayout(*form, '3');
    std::vector<uint8_t> older = EncodeTuningFile(*form, '3');
    BackupStore::Write("30000001", older);
    QTest::qWait(1100);  // the names tell the time to the second
    std::vector<uint8_t> newer = older;
    newer[1] = 42;  // P1 CH1 RPM_1 column 1
    BackupStore::Write("31234567", newer);
    std::vector<QUrl> opened;
    TForm1::SetUrlOpener([&](const QUrl& url) { opened.push_back(url); });

    // Drives the open dialog: reads its rows, then clicks `button` on row `row`.
    QStringList rows;
    QTimer poll;
    const auto answer = [&](int row, const QString& button) {
        poll.disconnect();
        QObject::connect(&poll, &QTimer::timeout, [&, row, button] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) return;
            poll.stop();
            auto* list = dialog->findChild<QTreeWidget*>("BackupList");
            rows.clear();
            for (int k = 0; k < list->topLevelItemCount(); ++k)
                rows << list->topLevelItem(k)->text(0) + " " + list->topLevelItem(k)->text(2);
            list->setCurrentItem(list->topLevelItem(row));
            for (QPushButton* candidate : dialog->findChildren<QPushButton*>()) {
                if (candidate->text() == button) candidate->click();
            }
            if (dialog->isVisible()) dialog->reject();
        });
        poll.start(10);
    };
    answer(0, "Show in folder");
    form->BackupsAction->trigger();
    EXPECT_EQ(rows, (QStringList{"31234567 3 channels", "30000001 3 channels"}));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(BackupStore::Folder()));

    answer(0, "Compare");
    form->BackupsAction->trigger();
    EXPECT_EQ(form->ProgramGrid(1, PT::CH1).CellMark(1, 0),
              QStringLiteral("In %1: 42").arg(QFileInfo(BackupStore::List()[0].path).fileName()));

    form->History().Stack().clear();
    answer(0, "Open");
    form->BackupsAction->trigger();
    EXPECT_EQ(form->ProgramGrid(1, PT::CH1).Cell(1, 0), "42");
    EXPECT_EQ(form->History().Stack().count(), 1);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    TForm1::SetUrlOpener({});
}

}  // namespace

namespace {

// While there are changes neither sent nor saved, the tables are kept in a recovery file; a
// run that ended without a clean exit offers them back at the next start: Yes restores them
// as one undo step, not sent; No removes the file.
TEST(Recovery, ATableLeftUncleanlyIsOfferedBackAtTheNextStart) {
    QTemporaryDir data;
    const DataHome dataHome(data.path());
    TForm1::SetRecoveryEnabled(true);
    QStringList errors;
    SetErrorPresenter([&](const QString& message) { errors << message; });
    QStringList asked;
    bool answer = true;
    SetQuestionPresenter([&](const QString&, const QString& question) {
        asked << question;
        return answer;
    });

    auto form = std::make_unique<TForm1>();
    form->OfferRecovery();  // as every start does: no earlier file, nothing asked
    EXPECT_TRUE(asked.isEmpty());
    form->EditNewSerial->setText("31234567");
    form->ProgramGrid(2, PT::CH1).SetCell(3, 1, "4321");
    ASSERT_TRUE(QTest::qWaitFor([] { return QFile::exists(RecoveryStore::Path()); }))
        << "the first change is kept at once";
    form->ProgramGrid(4, PT::Fuel).SetCell(5, 0, "abc");
    QTest::qWait(TForm1::kRecoveryMs + 300);
    form.reset();  // as if killed: no clean exit removes the file

    form = std::make_unique<TForm1>();
    form->OfferRecovery();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(
        asked[0].startsWith("The tool ended before the tables were saved or sent (3 "
                            "changes, last at "))
        << asked[0].toStdString();
    EXPECT_EQ(form->ProgramGrid(2, PT::CH1).Cell(3, 1), "4321");
    EXPECT_EQ(form->ProgramGrid(4, PT::Fuel).Cell(5, 0), "abc") << "texts come back as they were";
    EXPECT_EQ(form->EditNewSerial->text(), "31234567");
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return form->TablesLabel->text() == "Restored, 3 changes not sent";
    })) << form->TablesLabel->text().toStdString();
    EXPECT_EQ(form->History().Stack().count(), 1);
    form->History().Stack().undo();
    EXPECT_EQ(form->ProgramGrid(2, PT::CH1).Cell(3, 1), "0");
    form.reset();

    answer = false;
    asked.clear();
    form = std::make_unique<TForm1>();
    form->OfferRecovery();
    EXPECT_EQ(asked.size(), 1);
    EXPECT_FALSE(QFile::exists(RecoveryStore::Path())) << "No removes it";
    EXPECT_EQ(form->ProgramGrid(2, PT::CH1).Cell(3, 1), "0");
    form.reset();
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    TForm1::SetRecoveryEnabled(false);
    SetQuestionPresenter({});
    SetErrorPresenter({});
}

}  // namespace
