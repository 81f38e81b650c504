#include <QClipboard>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include "TableLayout.h"
#include "TestSupport.h"
#include "TuningFile.h"
#include "WindowFixture.h"

namespace {

using PT = ProgramTable;

// Every text of every table the history keeps: the program tables and the configuration row.
std::vector<std::string> AllTexts(TForm1& form) {
    std::vector<std::string> texts = AllProgramTexts(form);
    TextGrid& config = form.GridByName(Grid::StrGridConfig);
    for (int col = 0; col < config.ColCount(); ++col) texts.push_back(config.Cell(col, 0));
    return texts;
}

class HistoryTest : public WindowTest {
  public:
    using WindowTest::Focus;
    void SetUp() override {
        WindowTest::SetUp();
        QApplication::setActiveWindow(form.get());
        TForm1::SetFileChooser([this](QFileDialog*) { return chosen; });
        // A 3-channel box's tables: every table takes edits.
        form->Vars().BoxSerial = "31234567";
        ApplyEditionLayout(*form, '3');
        FillDistinct(*form);
        // Texts that are no numbers must come back as they were, too (in fuel rows, which
        // no chart draws).
        form->ProgramGrid(5, PT::Fuel).SetCell(3, 0, "x1");
        form->ProgramGrid(6, PT::Fuel).SetCell(9, 0, "");
    }
    void TearDown() override {
        TForm1::SetFileChooser({});
        WindowTest::TearDown();
    }
    static void Key(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers) {
        QTest::keyClick(target, key, modifiers);
    }
    static QWidget* Focused() { return QApplication::focusWidget(); }
    // A tuning file of the tables as they are, with `change` applied to a copy.
    std::string FileOfTables(const std::string& name, const std::function<void()>& change) {
        const std::vector<std::string> texts = AllTexts(*form);
        change();
        const std::string path = dir / name;
        WriteBytes(path, EncodeTuningFile(*form, '3'));
        // The tables get their own texts back.
        size_t at = 0;
        for (int n = 1; n <= 9; ++n) {
            for (int t = 0; t < 4; ++t) {
                TextGrid& grid = form->ProgramGrid(n, static_cast<PT>(t));
                for (int row = 0; row < grid.RowCount(); ++row) {
                    for (int col = 0; col < grid.ColCount(); ++col)
                        grid.SetCell(col, row, texts[at++]);
                }
            }
        }
        TextGrid& config = form->GridByName(Grid::StrGridConfig);
        for (int col = 0; col < config.ColCount(); ++col) config.SetCell(col, 0, texts[at++]);
        return path;
    }

    TForm1& Form() { return *form; }

    TempDir dir;
    QString chosen;
};

class Actions;
struct Action {
    const char* name;
    void (*run)(Actions& test);
};

void PrintTo(const Action& action, std::ostream* os) {
    *os << action.name;
}

class Actions : public HistoryTest, public testing::WithParamInterface<Action> {};

TEST_P(Actions, AreUndoneAndRedoneWholeByTheKeys) {
    const std::vector<std::string> before = AllTexts(*form);
    GetParam().run(*this);
    const std::vector<std::string> after = AllTexts(*form);
    ASSERT_NE(after, before) << "the action changed nothing";
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(form->History().Stack().count(), 1) << "one step";

    TStringGrid* grid = Focus(4, PT::CH2, 5, 2);
    Key(grid, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(AllTexts(*form), before);
    Key(Focused(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(AllTexts(*form), after);
    Key(Focused(), Qt::Key_Z, Qt::ControlModifier);
    Key(Focused(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(AllTexts(*form), after);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, Actions,
    testing::Values(Action{"TypedCell",
                           [](Actions& t) {
                               TStringGrid* grid = t.Focus(2, PT::CH1, 4, 1);
                               t.Key(grid, Qt::Key_1, Qt::NoModifier);
                               QTest::keyClicks(t.Focused(), "23");
                               t.Key(t.Focused(), Qt::Key_Return, Qt::NoModifier);
                               EXPECT_TRUE(
                                   QTest::qWaitFor([&] { return grid->Cell(4, 1) == "123"; }));
                           }},
                    Action{"TypedTextThatIsNoNumber",
                           [](Actions& t) {
                               TStringGrid* grid = t.Focus(7, PT::Fuel, 4, 0);
                               t.Key(grid, Qt::Key_A, Qt::NoModifier);
                               t.Key(t.Focused(), Qt::Key_Return, Qt::NoModifier);
                               EXPECT_TRUE(
                                   QTest::qWaitFor([&] { return grid->Cell(4, 0) == "a"; }));
                           }},
                    Action{"CtrlUp",
                           [](Actions& t) {
                               t.Key(t.Focus(3, PT::CH2, 5, 2), Qt::Key_Up, Qt::ControlModifier);
                           }},
                    Action{"CtrlRightFill",
                           [](Actions& t) {
                               t.Key(t.Focus(3, PT::CH3, 5, 0), Qt::Key_Right, Qt::ControlModifier);
                           }},
                    Action{"CtrlV",
                           [](Actions& t) {
                               t.Key(t.Focus(5, PT::CH1, 2, 2), Qt::Key_C, Qt::ControlModifier);
                               t.Key(t.Focus(6, PT::Fuel, 9, 0), Qt::Key_V, Qt::ControlModifier);
                           }},
                    Action{"SetRpmToAll",
                           [](Actions& t) {
                               t.Form().PageControl1->setCurrentIndex(2);
                               t.Form().ButtonSetRPM->click();
                           }},
                    Action{"PasteProg",
                           [](Actions& t) {
                               t.Form().PageControl1->setCurrentIndex(7);
                               t.Form().ButtonCopyProg->click();
                               t.Form().PageControl1->setCurrentIndex(8);
                               t.Form().ButtonPasteProg->click();
                           }},
                    Action{"ChannelCopy",
                           [](Actions& t) {
                               t.Form().PageControl1->setCurrentIndex(4);
                               t.Form().ButtonCopyPaste->click();
                           }},
                    Action{"SmoothFromTheChart",
                           [](Actions& t) {
                               t.Form().PageControl1->setCurrentIndex(6);
                               QTest::mouseDClick(t.Form().Chart2->viewport(), Qt::LeftButton);
                           }},
                    Action{"OpenFile",
                           [](Actions& t) {
                               t.chosen = QString::fromStdString(t.FileOfTables("open.bin", [&] {
                                   FillDistinct(t.Form());
                                   t.Form().ProgramGrid(9, PT::CH2).SetCell(16, 3, "1234");
                               }));
                               t.Form().ButtonOpenFile->click();
                           }},
                    Action{"PasteRange",
                           [](Actions& t) {
                               QGuiApplication::clipboard()->setText("1\t2\t3\n4\t5\t6\n");
                               t.Key(t.Focus(2, PT::CH2, 15, 2), Qt::Key_V,
                                     Qt::ControlModifier | Qt::ShiftModifier);
                           }}),
    [](const testing::TestParamInfo<Action>& info) { return std::string(info.param.name); });

TEST_F(HistoryTest, UndoShowsThePageOfTheChangeAndKeepsManySteps) {
    TStringGrid* grid = Focus(7, PT::CH1, 2, 0);
    for (int k = 0; k < 600; ++k) Key(grid, Qt::Key_Up, Qt::ControlModifier);
    const std::string top = grid->Cell(2, 0);
    Focus(2, PT::CH1, 2, 0);
    Key(Focused(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(form->PageControl1->currentIndex(), 7);
    EXPECT_NE(form->ProgramGrid(7, PT::CH1).Cell(2, 0), top);
    for (int k = 1; k < 600; ++k) form->UndoAction->trigger();
    EXPECT_EQ(form->ProgramGrid(7, PT::CH1).Cell(2, 0), ValueAt(7, 0, 2, 0))
        << "600 steps back to the start";
    EXPECT_FALSE(form->UndoAction->isEnabled());

    // The configuration row's page is Service.
    form->PageControl1->setCurrentIndex(0);
    form->StrGridConfig->setFocus();
    form->StrGridConfig->setCurrentCell(0, 4);
    QGuiApplication::clipboard()->setText("77");
    Key(form->StrGridConfig, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(form->GridByName(Grid::StrGridConfig).Cell(4, 0), "77");
    form->PageControl1->setCurrentIndex(3);
    form->UndoAction->trigger();
    EXPECT_EQ(form->PageControl1->currentIndex(), 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(HistoryTest, TheTablesMenuHoldsTheItemsWithTheirShortcuts) {
    struct Item {
        const char* text;
        const char* keys;
    };
    const Item items[] = {{"Undo", "Ctrl+Z"},
                          {"Redo", "Ctrl+Y"},
                          {"Compare with file\u2026", ""},
                          {"Clear marks", ""},
                          {"Copy range", "Ctrl+Shift+C"},
                          {"Paste range", "Ctrl+Shift+V"},
                          {"Add\u2026", "Ctrl+Shift+A"},
                          {"Multiply by %\u2026", "Ctrl+Shift+M"},
                          {"Set to\u2026", "Ctrl+Shift+S"},
                          {"Interpolate", "Ctrl+Shift+I"},
                          {"Colour by value", "Ctrl+Shift+H"},
                          {"Live graph", "Ctrl+G"},
                          {"Show changes before Send", ""},
                          {"Backups\u2026", "Ctrl+B"}};
    for (TStringGrid* grid :
         {Grid(1, PT::CH1), Grid(8, PT::Fuel), form->StrGridDynoLog, form->StrGridConfig.get()}) {
        QMenu* menu = form->TableMenu(grid);
        QStringList texts, keys;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator()) continue;
            texts << action->text();
            keys << action->shortcut().toString();
        }
        QStringList wantedTexts, wantedKeys;
        for (const Item& item : items) {
            wantedTexts << QString::fromUtf8(item.text);
            wantedKeys << item.keys;
        }
        EXPECT_EQ(texts, wantedTexts) << grid->objectName().toStdString();
        EXPECT_EQ(keys, wantedKeys);
        for (QAction* changing : {form->PasteRangeAction, form->AddAction, form->MultiplyAction,
                                  form->SetToAction, form->InterpolateAction}) {
            EXPECT_EQ(changing->isEnabled(), grid != form->StrGridDynoLog)
                << changing->text().toStdString() << ": the dyno log takes no changes";
        }
        menu->close();
        QApplication::processEvents();
    }
}

TEST_F(HistoryTest, ARangeCopiedOutAndPastedBackGivesTheSameTexts) {
    TStringGrid* from = Focus(3, PT::CH1, 2, 0);
    from->setCurrentCell(3, 6, QItemSelectionModel::Select);  // block (2,0)..(6,3)
    Key(from, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_EQ(copied.count('\n'), 4);
    EXPECT_EQ(copied.split('\n').first().split('\t').size(), 5);

    TStringGrid* to = Focus(8, PT::CH2, 2, 0);
    Key(to, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    for (int row = 0; row < 4; ++row) {
        for (int col = 2; col <= 6; ++col) EXPECT_EQ(to->Cell(col, row), from->Cell(col, row));
    }

    // Past the edge the block is cut off.
    to->setCurrentCell(2, 14);
    Key(to, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(to->Cell(16, 3), from->Cell(4, 1));
    EXPECT_EQ(to->Cell(13, 2), ValueAt(8, 1, 13, 2));
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

    // A field that is no whole number: one message, nothing changed, no step.
    const std::vector<std::string> before = AllTexts(*form);
    const int steps = form->History().Stack().count();
    QGuiApplication::clipboard()->setText("1;2;3\n4;5,5;6\n");
    Key(to, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(AllTexts(*form), before);
    EXPECT_EQ(form->History().Stack().count(), steps);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("\"5,5\" in line 2, field 2")) << errors[0].toStdString();
}

TEST_F(HistoryTest, CompareMarksExactlyTheValuesThatDiffer) {
    form->ProgramGrid(5, PT::Fuel).SetCell(3, 0, "5");
    form->ProgramGrid(6, PT::Fuel).SetCell(9, 0, "6");
    const std::string path = FileOfTables("saved.bin", [&] {
        form->ProgramGrid(2, PT::CH1).SetCell(5, 1, "-77");
        form->ProgramGrid(8, PT::Fuel).SetCell(16, 0, "4321");
        form->GridByName(Grid::StrGridConfig).SetCell(15, 0, "65000");
    });
    chosen = QString::fromStdString(path);
    form->ProgramGrid(1, PT::CH1).SetCell(3, 1, "17");
    form->CompareAction->trigger();
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(form->StatusBar1->currentMessage(), "4 values differ from saved.bin");
    int marked = 0;
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            TableText& table = form->ProgramGrid(n, static_cast<PT>(t));
            for (int row = 0; row < table.RowCount(); ++row) {
                for (int col = 0; col < table.ColCount(); ++col)
                    marked += table.CellMark(col, row).isEmpty() ? 0 : 1;
            }
        }
    }
    EXPECT_EQ(marked, 3);
    EXPECT_EQ(form->ProgramGrid(2, PT::CH1).CellMark(5, 1), "In saved.bin: -77");
    EXPECT_EQ(form->ProgramGrid(8, PT::Fuel).CellMark(16, 0), "In saved.bin: 4321");
    EXPECT_EQ(form->ProgramGrid(1, PT::CH1).CellMark(3, 1),
              QString::fromStdString("In saved.bin: " + ValueAt(1, 0, 3, 1)));
    EXPECT_EQ(form->GridByName(Grid::StrGridConfig).CellMark(15, 0), "In saved.bin: 65000");

    // An edit clears its own mark, "Clear marks" the rest.
    form->ProgramGrid(2, PT::CH1).SetCell(5, 1, "-77");
    EXPECT_EQ(form->ProgramGrid(2, PT::CH1).CellMark(5, 1), "");
    form->ClearMarksAction->trigger();
    EXPECT_EQ(form->ProgramGrid(8, PT::Fuel).CellMark(16, 0), "");

    // The same file again: the edited value now agrees.
    form->CompareAction->trigger();
    EXPECT_EQ(form->StatusBar1->currentMessage(), "3 values differ from saved.bin");
    EXPECT_EQ(form->History().Stack().count(), 0) << "comparing changes no table";

    // A file of the other edition is refused; the marks stay.
    const std::string twoChannel = dir / "two.bin";
    WriteBytes(twoChannel, std::vector<uint8_t>(kTuningFileSize2, 0));
    chosen = QString::fromStdString(twoChannel);
    form->CompareAction->trigger();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("2-channel box")) << errors[0].toStdString();
    EXPECT_EQ(form->ProgramGrid(8, PT::Fuel).CellMark(16, 0), "In saved.bin: 4321");

    // Opening a file clears them.
    chosen = QString::fromStdString(path);
    form->ButtonOpenFile->click();
    EXPECT_EQ(form->ProgramGrid(1, PT::CH1).CellMark(3, 1), "");
    EXPECT_EQ(form->GridByName(Grid::StrGridConfig).CellMark(15, 0), "");
}

}  // namespace

namespace {

// A key on a program table while a charted cell of the page holds no number.
struct KeyWithBadChart {
    const char* name;
    void (*run)(HistoryTest& test, TStringGrid* grid);
    int col;            // the cell that must change
    const char* after;  // its text after the key
};

void PrintTo(const KeyWithBadChart& row, std::ostream* os) {
    *os << row.name;
}

class KeysWithBadChart : public HistoryTest, public testing::WithParamInterface<KeyWithBadChart> {};

TEST_P(KeysWithBadChart, MakeTheirEditAndThenSayWhyTheChartsCannotShowIt) {
    // The CORR row is what the charts draw.
    form->ProgramGrid(1, PT::CH1).SetCell(4, 1, "x");
    TStringGrid* grid = Focus(1, PT::CH1, 3, 2);
    grid->SetCell(3, 2, "0");
    grid->SetCell(5, 2, "7");
    form->History().Stack().clear();
    GetParam().run(*this, grid);
    EXPECT_EQ(grid->Cell(GetParam().col, 2), GetParam().after);
    ASSERT_FALSE(errors.isEmpty()) << "the charts' message";
    EXPECT_EQ(errors.constLast(), QStringLiteral("'x' is not a valid integer value"));
    // The edit is one step: undone by the key, also while the charts still cannot be drawn.
    errors.clear();
    Key(Focused(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(grid->Cell(3, 2), "0");
    EXPECT_EQ(grid->Cell(5, 2), "7");
}

INSTANTIATE_TEST_SUITE_P(
    ChartCellNoNumber, KeysWithBadChart,
    testing::Values(KeyWithBadChart{"CtrlUp",
                                    [](HistoryTest& t, TStringGrid* g) {
                                        t.Key(g, Qt::Key_Up, Qt::ControlModifier);
                                    },
                                    3, "10"},
                    KeyWithBadChart{"CtrlRight",
                                    [](HistoryTest& t, TStringGrid* g) {
                                        t.Key(g, Qt::Key_Right, Qt::ControlModifier);
                                    },
                                    5, "0"},
                    KeyWithBadChart{"CtrlCThenCtrlV",
                                    [](HistoryTest& t, TStringGrid* g) {
                                        g->setCurrentCell(2, 5);
                                        t.Key(g, Qt::Key_C, Qt::ControlModifier);
                                        g->setCurrentCell(2, 3);
                                        t.Key(g, Qt::Key_V, Qt::ControlModifier);
                                    },
                                    3, "7"},
                    KeyWithBadChart{"PasteRange",
                                    [](HistoryTest& t, TStringGrid* g) {
                                        QGuiApplication::clipboard()->setText("42");
                                        t.Key(g, Qt::Key_V,
                                              Qt::ControlModifier | Qt::ShiftModifier);
                                    },
                                    3, "42"}),
    [](const testing::TestParamInfo<KeyWithBadChart>& info) {
        return std::string(info.param.name);
    });

TEST_F(HistoryTest, UndoTakesBackATextThatIsNoNumberWithoutAMessage) {
    TStringGrid* grid = Focus(1, PT::CH1, 3, 1);
    const std::string was = grid->Cell(3, 1);
    Key(grid, Qt::Key_A, Qt::NoModifier);
    QTest::keyClicks(Focused(), "bc");
    Key(Focused(), Qt::Key_Return, Qt::NoModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid->Cell(3, 1) == "abc"; }));
    errors.clear();
    Key(Focused(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(grid->Cell(3, 1), was);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    Key(Focused(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(grid->Cell(3, 1), "abc");
}

}  // namespace

namespace {

// Marks of a compared file follow undo and redo, and the status bar's count with them.
TEST_F(HistoryTest, CompareMarksFollowUndoAndRedo) {
    form->ProgramGrid(5, PT::Fuel).SetCell(3, 0, "5");
    form->ProgramGrid(6, PT::Fuel).SetCell(9, 0, "6");
    // A step made before the comparison: undoing it brings back a value the file lacks.
    TStringGrid* grid = Focus(3, PT::CH2, 7, 2);
    const std::string original = grid->Cell(7, 2);
    Key(grid, Qt::Key_Up, Qt::ControlModifier);
    const std::string stepped = grid->Cell(7, 2);
    const std::string path = FileOfTables("file.bin", [&] {
        form->ProgramGrid(2, PT::CH1).SetCell(5, 1, "-77");
        form->ProgramGrid(4, PT::CH3).SetCell(2, 3, "88");
    });
    chosen = QString::fromStdString(path);
    form->CompareAction->trigger();
    QApplication::processEvents();
    EXPECT_EQ(form->StatusBar1->currentMessage(), "2 values differ from file.bin");

    // The marked cell set to the file's value: its mark goes, and comes back with the undo.
    TStringGrid* marked = Focus(2, PT::CH1, 5, 1);
    Key(marked, Qt::Key_Minus, Qt::NoModifier);
    QTest::keyClicks(Focused(), "77");
    Key(Focused(), Qt::Key_Return, Qt::NoModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return marked->Cell(5, 1) == "-77"; }));
    QApplication::processEvents();
    EXPECT_EQ(marked->CellMark(5, 1), "");
    EXPECT_EQ(form->StatusBar1->currentMessage(), "1 value differs from file.bin");
    Key(Focused(), Qt::Key_Z, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(marked->CellMark(5, 1), "In file.bin: -77");
    EXPECT_EQ(form->StatusBar1->currentMessage(), "2 values differ from file.bin");
    Key(Focused(), Qt::Key_Y, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(marked->CellMark(5, 1), "");
    EXPECT_EQ(form->StatusBar1->currentMessage(), "1 value differs from file.bin");

    // Two undos back past the comparison: the stepped value, which the file holds, goes.
    Key(Focused(), Qt::Key_Z, Qt::ControlModifier);
    Key(Focused(), Qt::Key_Z, Qt::ControlModifier);
    QApplication::processEvents();
    ASSERT_EQ(grid->Cell(7, 2), original);
    EXPECT_EQ(grid->CellMark(7, 2), QString::fromStdString("In file.bin: " + stepped));
    EXPECT_EQ(form->StatusBar1->currentMessage(), "3 values differ from file.bin");
    // The view is told, so the marks' colour goes from the screen too.
    QSignalSpy repainted(grid->model(), &QAbstractItemModel::dataChanged);
    form->ClearMarksAction->trigger();
    EXPECT_EQ(grid->CellMark(7, 2), "");
    EXPECT_FALSE(repainted.isEmpty()) << "the marks' colour stays on the screen";
}

}  // namespace
