#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

#include "Functions.h"
#include "Pictures.h"
#include "WindowFixture.h"

namespace {

using PT = ProgramTable;

TEST_F(WindowTest, EveryValueCellReadsZeroAfterStart) {
    EXPECT_EQ(Form1, form.get());
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            TStringGrid* grid = Grid(n, static_cast<PT>(t));
            for (int row = 0; row < grid->RowCount(); ++row) {
                for (int col = 1; col <= 16; ++col) {
                    ASSERT_EQ(grid->Cell(col, row), "0") << grid->objectName().toStdString();
                }
            }
        }
    }
    for (int col = 0; col < 16; ++col)
        EXPECT_EQ(form->GridByName(Grid::StrGridConfig).Cell(col, 0), "0");
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(WindowTest, PagesGetTheirTablesWhenFirstShown) {
    // Only the page shown at start has its tables' views; the others hold their texts.
    EXPECT_TRUE(form->PageViewsMade(1));
    for (int page : {0, 2, 3, 4, 5, 6, 7, 8, 9}) {
        EXPECT_FALSE(form->PageViewsMade(page)) << page;
        EXPECT_EQ(form->PageControl1->widget(page)->findChildren<TStringGrid*>().size(), 0);
    }
    EXPECT_EQ(form->ProgramGrid(5, PT::CH2).Cell(0, 3), "MULTI%_2");
    EXPECT_FALSE(form->ProgramGrid(5, PT::CH3).Enabled());

    // What the routines set meanwhile reaches the view when the page is shown.
    TableText& table = form->ProgramGrid(5, PT::CH1);
    table.SetCell(7, 2, "-123");
    table.SetCol(7);
    table.SetRow(2);
    table.SetColWidth(3, 61);
    table.MarkCell(7, 2, "was 5");
    form->GridByName(Grid::StrGridConfig).SetCell(2, 0, "777");
    EXPECT_FALSE(form->PageViewsMade(5));

    form->PageControl1->setCurrentIndex(5);
    ASSERT_TRUE(form->PageViewsMade(5));
    TStringGrid* view = table.View();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view, Grid(5, PT::CH1));
    EXPECT_EQ(view->model()->data(view->model()->index(2, 7)).toString(), "-123");
    EXPECT_EQ(view->currentColumn(), 7);
    EXPECT_EQ(view->currentRow(), 2);
    EXPECT_EQ(view->columnWidth(3), 61);
    EXPECT_EQ(view->CellMark(7, 2), "was 5");
    EXPECT_FALSE(Grid(5, PT::CH3)->isEnabled());
    EXPECT_EQ(Grid(5, PT::CH3)->Color(), clSilver);

    // The view and the table are one from now on, both ways.
    view->SetCell(8, 2, "55");
    EXPECT_EQ(table.Cell(8, 2), "55");
    EXPECT_EQ(table.Col(), 7);

    form->PageControl1->setCurrentIndex(0);
    ASSERT_TRUE(form->PageViewsMade(0));
    EXPECT_TRUE(form->StrGridConfig->isVisible());
    EXPECT_EQ(form->StrGridConfig->Cell(2, 0), "777");
    EXPECT_FALSE(form->StrGridConfNam->isEnabled());
    EXPECT_FALSE(form->PageViewsMade(4));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(WindowTest, StartUpStateOfTheControls) {
    EXPECT_EQ(form->windowTitle(), "Corvane Zel V1.32b");
    EXPECT_FALSE(form->ButtonP9()->isEnabled());
    EXPECT_TRUE(form->ButtonP[8]->isEnabled());
    EXPECT_EQ(form->PageControl1->currentIndex(), 1);
    EXPECT_TRUE(form->Vars().BoxSerial.empty());
    EXPECT_EQ(form->Vars().Edition(), '\0');

    QStringList pedal;
    for (int i = 0; i < form->ComboBoxPedalRes->count(); ++i) {
        pedal << form->ComboBoxPedalRes->itemText(i);
    }
    EXPECT_EQ(pedal, QStringList({"Lazy", "Normal", "Insane"}));
    EXPECT_EQ(form->ComboBoxPedalRes->currentText(), "Normal");
    EXPECT_FALSE(form->ComboBoxPedalRes->isEnabled());

    EXPECT_EQ(form->GridByName(Grid::StrGridConfNam).Cell(0, 0), "RPM pls.");
    for (int col = 1; col < 16; ++col)
        EXPECT_EQ(form->GridByName(Grid::StrGridConfNam).Cell(col, 0), "");
    const char* sentRows[5] = {"Manufacturer ($05):", "OEM codes ($90-97):", "Sensor type ($03):",
                               "Protocol rev. ($06):", "Error/status ($01):"};
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(form->GridByName(Grid::StrGridSDnames).Cell(0, row), sentRows[row]);
    EXPECT_EQ(form->NumBoxStartTime->value(), 0);
    EXPECT_EQ(form->NumBoxStartTime->maximum(), 9);
    EXPECT_EQ(form->EditNewSerial->maxLength(), 8);
}

TEST_F(WindowTest, TablesAreLabelledAndCh3FuelGreyed) {
    const QColor silver(0xC0, 0xC0, 0xC0);
    const QColor window = QApplication::palette().color(QPalette::Base);
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            TStringGrid* grid = Grid(n, static_cast<PT>(t));
            EXPECT_EQ(grid->columnWidth(0), 65);
            EXPECT_EQ(grid->columnWidth(1), 50);
            EXPECT_EQ(grid->rowHeight(0), 24);
            const bool greyed = t >= 2;
            EXPECT_EQ(grid->isEnabled(), !greyed) << grid->objectName().toStdString();
            EXPECT_EQ(grid->palette().color(QPalette::Base), greyed ? silver : window);
        }
        EXPECT_EQ(Grid(n, PT::CH2)->Cell(0, 3), "MULTI%_2");
        EXPECT_EQ(Grid(n, PT::CH3)->Cell(0, 0), "RPM_3");
        EXPECT_EQ(Grid(n, PT::Fuel)->Cell(0, 0), "FUEL%");
    }
    EXPECT_FALSE(form->StrGridSDdata->isEnabled());
    EXPECT_EQ(form->StrGridSDdata->palette().color(QPalette::Base), silver);
    EXPECT_FALSE(form->LabelPress3->isEnabled());
    EXPECT_FALSE(form->RadioButtCH3->isEnabled());
    EXPECT_FALSE(form->CheckBoxCH3->isEnabled());
}

TEST_F(WindowTest, EditionThreeEnablesTheThirdChannelWithItsValues) {
    Grid(4, PT::Fuel)->SetCell(3, 0, "44");
    ApplyEditionLayout(*form, '3');
    EXPECT_TRUE(Grid(4, PT::Fuel)->isEnabled());
    EXPECT_EQ(Grid(4, PT::Fuel)->Cell(3, 0), "44");
    EXPECT_TRUE(form->ComboBoxPedalRes->isEnabled());
    EXPECT_FALSE(form->ButtonP9()->isEnabled());
    ApplyEditionLayout(*form, '2');
    EXPECT_TRUE(form->ButtonP9()->isEnabled());
}

TEST_F(WindowTest, FixedLabelColumnCannotBecomeCurrentOrBeEdited) {
    TStringGrid* grid = Grid(1, PT::CH1);
    EXPECT_EQ(grid->currentColumn(), 1);
    EXPECT_EQ(grid->currentRow(), 0);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Left);
    EXPECT_EQ(grid->currentColumn(), 1);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(0, 2).center());
    EXPECT_EQ(grid->currentColumn(), 1);
    EXPECT_FALSE(grid->CellFlags(0, 0) & Qt::ItemIsEditable);
    EXPECT_TRUE(grid->CellFlags(1, 0) & Qt::ItemIsEditable);
    QTest::keyClick(grid, Qt::Key_Right);
    EXPECT_EQ(grid->currentColumn(), 2);
}

TEST_F(WindowTest, LogoOpensTheWebsiteOnDoubleClickOnly) {
    QList<QUrl> opened;
    TForm1::SetUrlOpener([&](const QUrl& url) { opened.append(url); });
    QTest::mouseClick(form->Image1, Qt::LeftButton);
    EXPECT_TRUE(opened.isEmpty());
    QTest::mouseDClick(form->Image1, Qt::LeftButton);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl(TForm1::kWebsite));
    EXPECT_EQ(opened[0].host().section('.', -1), "example");
    TForm1::SetUrlOpener({});
    QTest::mouseDClick(form->Image1, Qt::LeftButton);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(WindowTest, WheelScrollsTwentyPixelsPerNotchWithinTheRange) {
    QScrollBar* bar = form->ScrollArea()->verticalScrollBar();
    const auto wheel = [&](int notches) {
        QWheelEvent event(QPointF(5, 5), form->mapToGlobal(QPointF(5, 5)), QPoint(),
                          QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                          false);
        QApplication::sendEvent(form->ScrollArea()->viewport(), &event);
    };

    // Tall enough for the content: nothing to scroll.
    form->resize(1115, 760);
    QApplication::processEvents();
    wheel(-1);
    EXPECT_EQ(bar->value(), 0);

    form->resize(1115, 600);
    QApplication::processEvents();
    const int range = bar->maximum();
    ASSERT_GT(range, 40);
    wheel(-1);
    EXPECT_EQ(bar->value(), 20);
    wheel(-2);
    EXPECT_EQ(bar->value(), 60);
    wheel(1);
    EXPECT_EQ(bar->value(), 40);
    for (int i = 0; i < 20; ++i) wheel(-1);
    EXPECT_EQ(bar->value(), range);
    for (int i = 0; i < 20; ++i) wheel(1);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(form->ScrollArea()->horizontalScrollBar()->value(), 0);
}

// The wheel over a control without the focus scrolls the window and leaves the control as
// it was; a focused control takes the wheel itself.
TEST_F(WindowTest, UnfocusedControlsLeaveTheWheelToTheWindow) {
    form->resize(1115, 500);
    form->ComboBoxComPorts->addItems({"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS3"});
    form->ComboBoxComPorts->setCurrentIndex(0);
    QApplication::processEvents();
    QScrollBar* bar = form->ScrollArea()->verticalScrollBar();
    // Three notches towards the user over the widget that lies under the pointer.
    const auto wheel = [&](QWidget* target) {
        for (int notch = 0; notch < 3; ++notch) {
            const QPointF at(target->width() / 2.0, target->height() / 2.0);
            QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(target, &event);
        }
    };
    struct Row {
        const char* name;
        QWidget* target;
        int page;
        std::function<QString()> state;
    };
    const Row rows[] = {
        {"start time", form->NumBoxStartTime, 0, [&] { return form->NumBoxStartTime->text(); }},
        {"start time's text", form->NumBoxStartTime->findChild<QLineEdit*>(), 0,
         [&] { return form->NumBoxStartTime->text(); }},
        {"pedal response", form->ComboBoxPedalRes, 0,
         [&] { return form->ComboBoxPedalRes->currentText(); }},
        {"port list", form->ComboBoxComPorts, 1,
         [&] { return form->ComboBoxComPorts->currentText(); }},
        {"tab bar", form->PageControl1->tabBar(), 2,
         [&] { return QString::number(form->PageControl1->currentIndex()); }},
        {"program table", Grid(2, PT::CH1)->viewport(), 2,
         [&] { return QString::number(Grid(2, PT::CH1)->currentColumn()); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        form->PageControl1->setCurrentIndex(row.page);
        form->setFocus();
        QApplication::processEvents();
        bar->setValue(bar->maximum());
        const QString before = row.state();
        wheel(row.target);  // up: the window scrolls back by 60
        EXPECT_EQ(row.state(), before);
        EXPECT_EQ(bar->value(), bar->maximum() - 60);
    }

    // Focused, the start time takes the wheel and the window stays.
    form->PageControl1->setCurrentIndex(0);
    form->NumBoxStartTime->setFocus();
    QApplication::processEvents();
    ASSERT_TRUE(form->NumBoxStartTime->hasFocus());
    bar->setValue(0);
    form->NumBoxStartTime->setValue(0);
    wheel(form->NumBoxStartTime);
    EXPECT_EQ(form->NumBoxStartTime->value(), 3);
    EXPECT_EQ(bar->value(), 0);
}

TEST(Pictures, AreOfTheirStatedSizes) {
    const QIcon icon = AppIcon();
    for (int size : {16, 32, 48, 64, 128}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    }
    for (const QPixmap& picture : {ConnectPicture(), OpenFilePicture(), SaveFilePicture()}) {
        EXPECT_EQ(picture.size(), QSize(64, 64));
        EXPECT_TRUE(picture.hasAlphaChannel());
    }
    const QImage logo = LogoPicture().toImage();
    EXPECT_EQ(logo.size(), QSize(162, 88));
    EXPECT_EQ(qAlpha(logo.pixel(0, 0)), 0) << "transparent background";
}

}  // namespace

namespace {

TEST_F(WindowTest, WithoutARecorderTheErrorShowsInAMessageBox) {
    SetErrorPresenter({});
    Grid(2, ProgramTable::CH1)->SetCell(7, 0, "7x");
    QString shownText;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        shownText = box->text();
        shownIcon = box->icon();
        box->accept();
    });
    form->PageControl1->setCurrentIndex(2);
    EXPECT_EQ(shownText, "'7x' is not a valid integer value");
    EXPECT_EQ(shownIcon, QMessageBox::Critical);
    EXPECT_EQ(form->PageControl1->currentIndex(), 2) << "the tool goes on";
}

}  // namespace
