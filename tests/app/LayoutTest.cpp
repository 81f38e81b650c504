#include <QAbstractButton>
#include <QComboBox>
#include <QFile>
#include <QFontInfo>
#include <QGroupBox>
#include <QScrollBar>
#include <QStyleOptionComboBox>
#include <QTest>

#include "WindowFixture.h"

namespace {

struct ControlRow {
    const char* name;
    const char* parent;
    QRect geometry;
    const char* caption;  // nullptr: not checked
    int fontPx;
    bool bold;
    bool enabled;  // after start-up
};

// The window's controls as built, with their state after start-up.
const ControlRow kControls[] = {
    {"ButtonConnect", "FormContent", {8, 8, 81, 97}, "Connect", 11, false, false},
    {"Shape1", "FormContent", {16, 16, 17, 17}, nullptr, 11, false, true},
    {"LabelSerial", "FormContent", {182, 155, 108, 16}, "BOX serial: --------", 13, false, true},
    {"LabelConnPort", "FormContent", {95, 111, 12, 21}, "X", 17, true, true},
    {"ButtonSaveFile", "FormContent", {182, 8, 81, 97}, "Save file", 11, false, true},
    {"ButtonOpenFile", "FormContent", {95, 8, 81, 97}, "Open file", 11, false, true},
    {"LabelCopiedProg", "FormContent", {878, 7, 14, 25}, "X", 21, true, true},
    {"Shape2", "FormContent", {277, 8, 25, 24}, nullptr, 11, false, true},
    {"LabelRPM", "FormContent", {277, 38, 48, 19}, "RPM: ", 16, true, true},
    {"LabelPress1", "FormContent", {277, 61, 39, 19}, "CH1:", 16, true, true},
    {"LabelPress2", "FormContent", {277, 86, 39, 19}, "CH2:", 16, true, true},
    {"Label1", "FormContent", {424, 602, 56, 16}, "Dyno log", 13, true, true},
    {"LabelPress3", "FormContent", {277, 111, 39, 19}, "CH3:", 16, true, false},
    {"Image1", "FormContent", {930, 17, 162, 88}, nullptr, 11, false, true},
    {"ComboBoxComPorts", "FormContent", {8, 111, 81, 21}, "", 11, false, true},
    {"ButtonDownload", "FormContent", {8, 152, 81, 25}, "Download", 11, false, false},
    {"ButtonSend", "FormContent", {95, 152, 81, 25}, "Send", 11, false, false},
    {"ButtonPasteProg", "FormContent", {794, 38, 100, 25}, "Paste PROG", 11, false, false},
    {"ButtonCopyProg", "FormContent", {794, 8, 78, 25}, "Copy PROG", 11, false, true},
    {"ButtonDynoLog", "FormContent", {308, 8, 81, 25}, "Dyno log ON", 11, false, false},
    {"PageControl1", "FormContent", {8, 186, 900, 407}, nullptr, 11, false, true},
    {"StrGridDynoLog", "FormContent", {12, 621, 892, 104}, nullptr, 11, false, true},
    {"ButtonP0", "FormContent", {424, 140, 30, 40}, "0", 24, true, true},
    {"ButtonP1", "FormContent", {454, 140, 30, 40}, "1", 24, true, true},
    {"ButtonP2", "FormContent", {484, 140, 30, 40}, "2", 24, true, true},
    {"ButtonP3", "FormContent", {514, 140, 30, 40}, "3", 24, true, true},
    {"ButtonP4", "FormContent", {544, 140, 30, 40}, "4", 24, true, true},
    {"ButtonP5", "FormContent", {574, 140, 30, 40}, "5", 24, true, true},
    {"ButtonP6", "FormContent", {604, 140, 30, 40}, "6", 24, true, true},
    {"ButtonP7", "FormContent", {634, 140, 30, 40}, "7", 24, true, true},
    {"ButtonP8", "FormContent", {664, 140, 30, 40}, "8", 24, true, true},
    {"ButtonP9", "FormContent", {694, 140, 30, 40}, "9", 24, true, false},
    {"ButtonResetLog", "FormContent", {395, 8, 89, 25}, "Reset log P>0", 11, false, true},
    {"ButtonSetRPM", "FormContent", {698, 8, 90, 25}, "Set RPM to ALL", 11, false, true},
    {"GroupBox1", "FormContent", {794, 67, 110, 113}, "Channel copy", 11, false, true},
    {"ButtonCopyPaste", "FormContent", {799, 151, 80, 25}, "Copy \u2192 Paste", 11, false, true},
    {"Chart1", "FormContent", {910, 190, 200, 105}, nullptr, 11, false, true},
    {"Chart2", "FormContent", {910, 305, 200, 105}, nullptr, 11, false, true},
    {"Chart3", "FormContent", {910, 416, 200, 105}, nullptr, 11, false, true},
    {"FileListBox1", "FormContent", {910, 525, 200, 200}, nullptr, 11, false, true},
    {"RadioButtP0", "FormContent", {504, 588, 40, 14}, "P=0", 11, false, true},
    {"RadioButtP1toP9", "FormContent", {504, 604, 40, 14}, "P>0", 11, false, true},
    {"CheckBoxCopySend", "GroupBox1", {88, 85, 14, 14}, "", 11, false, true},
    {"RadioButtCH1", "GroupBox1", {5, 20, 40, 14}, "CH1", 11, false, true},
    {"RadioButtCH2", "GroupBox1", {5, 40, 40, 14}, "CH2", 11, false, true},
    {"RadioButtCH3", "GroupBox1", {5, 61, 40, 14}, "CH3", 11, false, false},
    {"CheckBoxCH2", "GroupBox1", {60, 40, 40, 14}, "CH2", 11, false, true},
    {"CheckBoxCH3", "GroupBox1", {60, 60, 40, 14}, "CH3", 11, false, false},
    {"CheckBoxCH1", "GroupBox1", {60, 20, 40, 14}, "CH1", 11, false, true},
    {"NewserialLabel", "TabSheetService", {20, 23, 86, 16}, "Serial number:", 13, false, true},
    {"Shape3", "TabSheetService", {3, 88, 248, 5}, nullptr, 11, false, true},
    {"Label3", "TabSheetService", {20, 111, 97, 16}, "Start time (min):", 13, false, true},
    {"Label4", "TabSheetService", {137, 111, 92, 16}, "Pedal response:", 13, false, true},
    {"LabSENTchs",
     "TabSheetService",
     {480, 20, 151, 19},
     "CH1                 CH2",
     16,
     true,
     true},
    {"LabSENTsd", "TabSheetService", {333, 23, 95, 16}, "SENT serial data", 13, false, true},
    {"EditNewSerial", "TabSheetService", {20, 45, 93, 27}, nullptr, 16, true, true},
    {"StrGridConfNam", "TabSheetService", {4, 181, 852, 52}, nullptr, 11, false, false},
    {"StrGridConfig", "TabSheetService", {4, 205, 852, 28}, nullptr, 13, true, true},
    {"ComboBoxPedalRes", "TabSheetService", {137, 133, 72, 24}, "Normal", 13, true, false},
    {"NumBoxStartTime", "TabSheetService", {20, 133, 33, 27}, nullptr, 16, true, true},
    {"StrGridSDnames", "TabSheetService", {324, 45, 114, 108}, nullptr, 11, false, true},
    {"StrGridSDdata", "TabSheetService", {437, 45, 245, 108}, nullptr, 11, false, false},
    {"StaticText1", "TabSheetService", {3, 248, 853, 121}, "", 11, false, true},
};

void PrintTo(const ControlRow& row, std::ostream* os) {
    *os << row.name;
}

class LayoutTest : public WindowTest, public testing::WithParamInterface<ControlRow> {};

TEST_P(LayoutTest, ControlIsInPlace) {
    const ControlRow& row = GetParam();
    // A page's tables are made when the page is first shown.
    if (auto* page = form->findChild<QWidget*>(row.parent)) {
        if (form->PageControl1->indexOf(page) >= 0) form->PageControl1->setCurrentWidget(page);
    }
    auto* widget = form->findChild<QWidget*>(row.name);
    ASSERT_NE(widget, nullptr) << row.name;
    EXPECT_EQ(widget->parentWidget()->objectName(), row.parent);
    auto* label = qobject_cast<QLabel*>(widget);
    if (label != nullptr && label->pixmap().isNull()) {
        // A label is as wide as its caption needs, at least as wide as the layout draws it.
        EXPECT_EQ(widget->pos(), row.geometry.topLeft());
        EXPECT_EQ(widget->height(), row.geometry.height());
        EXPECT_GE(widget->width(), row.geometry.width());
        EXPECT_LE(widget->width(), std::max(row.geometry.width(), label->sizeHint().width()));
    } else {
        EXPECT_EQ(widget->geometry(), row.geometry);
    }
    if (row.caption != nullptr) {
        WidgetControl control(widget);
        EXPECT_EQ(control.Caption(), row.caption);
    }
    EXPECT_EQ(widget->font().pixelSize(), row.fontPx);
    EXPECT_EQ(widget->font().bold(), row.bold);
    EXPECT_EQ(widget->isEnabled(), row.enabled);
}

INSTANTIATE_TEST_SUITE_P(Controls, LayoutTest, testing::ValuesIn(kControls),
                         [](const testing::TestParamInfo<ControlRow>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(WindowTest, ControlsAreCreatedInTheirListedOrder) {
    // Later siblings lie above earlier ones, so the order decides overlaps such as the lamp
    // over the connect button.
    QStringList listed;
    for (const ControlRow& row : kControls) {
        if (QString(row.parent) == "FormContent") listed << row.name;
    }
    QStringList created;
    for (QObject* child : form->Content()->children()) {
        if (listed.contains(child->objectName())) created << child->objectName();
    }
    EXPECT_EQ(created, listed);
}

TEST_F(WindowTest, ProgramPagesHoldTheirFourGrids) {
    const QStringList tabs = {"Service", "P1", "P2", "P3", "P4", "P5", "P6", "P7", "P8", "P9"};
    ASSERT_EQ(form->PageControl1->count(), 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(form->PageControl1->tabText(i), tabs[i]);
    EXPECT_EQ(form->PageControl1->tabPosition(), QTabWidget::South);
    const QRect places[4] = {
        {0, 0, 892, 105}, {0, 112, 892, 105}, {0, 226, 892, 105}, {0, 342, 892, 28}};
    const char* suffixes[4] = {"CH1", "CH2", "CH3", "Fuel"};
    for (int n = 1; n <= 9; ++n) {
        for (int t = 0; t < 4; ++t) {
            TStringGrid* grid = Grid(n, static_cast<ProgramTable>(t));
            EXPECT_EQ(grid->objectName(), QString("StrGridP%1%2").arg(n).arg(suffixes[t]));
            EXPECT_EQ(grid->parentWidget(), form->PageControl1->widget(n));
            EXPECT_EQ(grid->geometry(), places[t]);
            EXPECT_EQ(grid->columnCount(), 17);
            EXPECT_EQ(grid->rowCount(), t == 3 ? 1 : 4);
        }
    }
    // The Tab key walks the tables of P1..P8 downwards and those of P9 from the fuel row up.
    const auto nextTable = [&](int n, ProgramTable from) {
        QWidget* w = Grid(n, from)->nextInFocusChain();
        for (; w != Grid(n, from); w = w->nextInFocusChain()) {
            for (int t = 0; t < 4; ++t) {
                if (w == Grid(n, static_cast<ProgramTable>(t))) return static_cast<ProgramTable>(t);
            }
        }
        return from;
    };
    EXPECT_EQ(nextTable(9, ProgramTable::Fuel), ProgramTable::CH3);
    EXPECT_EQ(nextTable(9, ProgramTable::CH3), ProgramTable::CH2);
    EXPECT_EQ(nextTable(9, ProgramTable::CH2), ProgramTable::CH1);
    EXPECT_EQ(nextTable(4, ProgramTable::CH1), ProgramTable::CH2);
    EXPECT_EQ(nextTable(4, ProgramTable::CH3), ProgramTable::Fuel);
}

TEST_F(WindowTest, GridsHaveTheirShapes) {
    struct Shape {
        TStringGrid* grid;
        int cols, rows, colWidth, rowHeight;
        bool editable;
    };
    const Shape shapes[] = {{form->StrGridDynoLog, 17, 4, 50, 24, true},
                            {form->StrGridConfNam, 16, 2, 52, 24, false},
                            {form->StrGridConfig, 16, 1, 52, 24, true},
                            {form->StrGridSDnames, 2, 5, 110, 20, false},
                            {form->StrGridSDdata, 2, 5, 120, 20, false}};
    for (const Shape& s : shapes) {
        SCOPED_TRACE(s.grid->objectName().toStdString());
        EXPECT_EQ(s.grid->columnCount(), s.cols);
        EXPECT_EQ(s.grid->rowCount(), s.rows);
        EXPECT_EQ(s.grid->columnWidth(s.cols - 1), s.colWidth);
        EXPECT_EQ(s.grid->rowHeight(s.rows - 1), s.rowHeight);
        EXPECT_EQ(s.grid->editTriggers() != QAbstractItemView::NoEditTriggers, s.editable);
    }
    EXPECT_EQ(form->StrGridSDnames->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST_F(WindowTest, OnlyTheLogoAndTheCopySendBoxHaveTooltips) {
    QStringList withTips;
    for (QWidget* widget : form->findChildren<QWidget*>()) {
        // The file dialogs are windows of their own, with the toolkit's own tooltips.
        if (widget->window() != form.get()) continue;
        if (!widget->toolTip().isEmpty()) withTips << widget->objectName();
    }
    withTips.sort();
    EXPECT_EQ(withTips, QStringList({"CheckBoxCopySend", "Image1"}));
    EXPECT_EQ(form->Image1->toolTip(), "Double click to visit website");
    EXPECT_EQ(form->CheckBoxCopySend->toolTip(), "Copy and send");
}

TEST_F(WindowTest, WindowSizeFontAndFocusRules) {
    EXPECT_EQ(form->Content()->size(), QSize(1110, 725));
    EXPECT_EQ(form->font().pixelSize(), 11);
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(form->ButtonConnect->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(form->ButtonDownload->focusPolicy() & Qt::TabFocus, 0);
    EXPECT_EQ(form->ComboBoxComPorts->focusPolicy() & Qt::TabFocus, 0);
    EXPECT_TRUE(form->ComboBoxComPorts->isEditable());
    EXPECT_EQ(form->ComboBoxComPorts->lineEdit()->placeholderText(), "Select Port");
    EXPECT_FALSE(form->ComboBoxPedalRes->isEditable());
    EXPECT_TRUE(form->RadioButtP0->isChecked());
    EXPECT_FALSE(form->RadioButtP1toP9->isChecked());
    EXPECT_TRUE(form->RadioButtCH1->isChecked());
    EXPECT_TRUE(form->CheckBoxCH2->isChecked());
    EXPECT_FALSE(form->CheckBoxCH1->isChecked());
    EXPECT_EQ(form->Shape1->BrushColor(), clRed);
    EXPECT_EQ(form->Shape2->BrushColor(), clRed);
}

// The status bar sits below the whole layout: the layout starts where it did, and the window
// is taller by the bar.
TEST_F(WindowTest, StatusBarBelowTheLayout) {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const QPoint origin = form->Content()->mapTo(form.get(), QPoint(0, 0));
    EXPECT_EQ(origin, QPoint(0, 0));
    EXPECT_TRUE(form->StatusBar1->isVisible());
    EXPECT_EQ(form->StatusBar1->currentMessage(), "Not connected");
    EXPECT_GE(form->StatusBar1->geometry().top(), form->ScrollArea()->geometry().bottom());
    EXPECT_EQ(form->height(), 729 + form->StatusBar1->height());
    EXPECT_FALSE(form->ScrollArea()->verticalScrollBar()->isVisible())
        << "the layout fits above the bar";
}

// The layout's sizes were drawn for a narrow face; with a wider one "Normal" shows as
// "Norma" in the pedal box. With the metric-compatible face every caption fits its control.
TEST_F(WindowTest, EveryCaptionShowsWhole) {
    if (!QFile::exists("/usr/share/wine/fonts/tahoma.ttf")) {
        GTEST_SKIP() << "the metric-compatible face (Debian's fonts-wine) is not installed";
    }
    EXPECT_EQ(QFontInfo(form->font()).family(), "Tahoma");
    EXPECT_EQ(QFontInfo(form->ComboBoxPedalRes->font()).family(), "Tahoma");

    QStringList clipped;
    const auto check = [&](QWidget* widget, const QString& text, int room) {
        const int needed = widget->fontMetrics().horizontalAdvance(text);
        if (needed > room) {
            clipped << QStringLiteral("%1 \"%2\": %3 px in %4")
                           .arg(widget->objectName(), text)
                           .arg(needed)
                           .arg(room);
        }
    };
    for (QLabel* label : form->Content()->findChildren<QLabel*>()) {
        if (label->pixmap().isNull() && !label->wordWrap())
            check(label, label->text(), label->contentsRect().width());
    }
    for (QAbstractButton* button : form->Content()->findChildren<QAbstractButton*>()) {
        if (button->text().isEmpty()) continue;
        // Room for the text inside the button's frame, or beside a check mark.
        const bool mark = qobject_cast<QPushButton*>(button) == nullptr &&
                          qobject_cast<QToolButton*>(button) == nullptr;
        const int indicator =
            mark ? button->style()->pixelMetric(QStyle::PM_IndicatorWidth) +
                       button->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing)
                 : 4;
        check(button, button->text(), button->width() - indicator);
    }
    QStyleOptionComboBox option;
    option.initFrom(form->ComboBoxPedalRes);
    const QRect field = form->ComboBoxPedalRes->style()->subControlRect(
        QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, form->ComboBoxPedalRes);
    for (int i = 0; i < form->ComboBoxPedalRes->count(); ++i) {
        check(form->ComboBoxPedalRes, form->ComboBoxPedalRes->itemText(i), field.width());
    }
    EXPECT_TRUE(clipped.isEmpty()) << clipped.join('\n').toStdString();
}

}  // namespace
