#include "Unit1.h"

#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "BackupStore.h"
#include "Charts.h"
#include "Conversions.h"
#include "ErrorGuard.h"
#include "Functions.h"
#include "LiveGraph.h"
#include "Pictures.h"
#include "RangeText.h"
#include "SaveFile.h"
#include "StoredValues.h"
#include "TableLayout.h"
#include "Verify.h"

TForm1* Form1 = nullptr;

namespace {

std::function<void(const QUrl&)>& UrlOpener() {
    static std::function<void(const QUrl&)> opener = [](const QUrl& url) {
        QDesktopServices::openUrl(url);
    };
    return opener;
}

QStringList& ExtraPorts() {
    static QStringList ports;
    return ports;
}

TForm1::NumberAsker& Asker() {
    static TForm1::NumberAsker asker = [](const QString& title,
                                          const QString& label) -> std::optional<double> {
        bool ok = false;
        const double value = QInputDialog::getDouble(Form1, title, label, 0, -1e9, 1e9, 2, &ok);
        if (!ok) return std::nullopt;
        return value;
    };
    return asker;
}

TForm1::FileChooser& Chooser() {
    static TForm1::FileChooser chooser = [](QFileDialog* dialog) {
        const int result = dialog->exec();
        // The name field's suggestions outlive the dialog when Return is pressed while they
        // show; left open, they keep the window from being activated again (its next click is
        // lost, its Ctrl keys find no focused table).
        if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
        if (result != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
            return QString();
        }
        return dialog->selectedFiles().constFirst();
    };
    return chooser;
}

int VirtualKey(int qtKey) {
    switch (qtKey) {
        case Qt::Key_Left:
            return kVkLeft;
        case Qt::Key_Up:
            return kVkUp;
        case Qt::Key_Right:
            return kVkRight;
        case Qt::Key_Down:
            return kVkDown;
        default:
            return (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) ? qtKey : 0;
    }
}

template <typename W>
W* Place(W* widget, const char* name, int left, int top, int width, int height) {
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top,
                  int width, int height, int fontPx, bool bold) {
    auto* label = Place(new QLabel(caption, parent), name, left, top, width, height);
    label->setFont(UiFont(fontPx, bold));
    // The layout's labels are as wide as their captions on the system it was drawn for; a
    // face a pixel or two wider here must not clip the last letter.
    label->resize(std::max(width, LabelTextWidth(label, caption)), height);
    return label;
}

QToolButton* MakePictureButton(QWidget* parent, const char* name, const QString& caption,
                               const QPixmap& picture, int left, int top) {
    auto* button = Place(new QToolButton(parent), name, left, top, 81, 97);
    button->setText(caption);
    button->setIcon(QIcon(picture));
    button->setIconSize(QSize(64, 64));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int left,
                        int top, int width, int height) {
    auto* button = Place(new QPushButton(caption, parent), name, left, top, width, height);
    button->setFocusPolicy(Qt::ClickFocus);  // not in the Tab-key order
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TForm1::TForm1(QWidget* owner) : QMainWindow(owner) {
    // The routines reach the window through Form1 while it is still being built.
    Form1 = this;

    CreateTables();
    CreateControls();
    WireHandlers();

    FillPortListInBackground();
    for (const char* response : kPedalResponses)
        ComboBoxPedalRes->addItem(QString::fromLatin1(response));
    ComboBoxPedalRes->setCurrentIndex(1);
    InitialiseTables(*this, vars_);
    CreateHistory();
    recoveryDue_.setSingleShot(true);
    connect(&recoveryDue_, &QTimer::timeout, this, [this] {
        if (UnsavedChanges()) WriteRecovery();
    });
    // The tables as they start are what changes count from until a box or a file fills them.
    TakeBaseline({});

    for (const std::string& name : ListTuningFiles(QDir::currentPath().toStdString())) {
        FileListBox1->addItem(QString::fromStdString(name));
    }
}

TForm1::~TForm1() {
    // The graph finishes its recording while the window's state is still whole.
    delete graph_;
    graph_ = nullptr;
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::CreateControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kCaption));
    setWindowIcon(AppIcon());
    setFont(UiFont(11));

    scroll_ = new TFormScrollArea(this);
    scroll_->setObjectName(QStringLiteral("FormScrollArea"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(false);
    content_ = new QWidget();
    content_->setObjectName(QStringLiteral("FormContent"));
    content_->setFixedSize(kContentWidth, kContentHeight);
    content_->setAutoFillBackground(true);
    content_->setBackgroundRole(QPalette::Button);
    scroll_->setWidget(content_);
    setCentralWidget(scroll_);
    qApp->installEventFilter(scroll_);
    // The status bar sits below the layout, which keeps its size: the window grows by the
    // bar's height.
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    setStatusBar(StatusBar1);
    StatusBar1->showMessage(QStringLiteral("Not connected"));
    shownStatus_ = QStringLiteral("Not connected");
    BoxLabel = new QLabel(StatusBar1);
    BoxLabel->setObjectName(QStringLiteral("BoxLabel"));
    TablesLabel = new QLabel(StatusBar1);
    TablesLabel->setObjectName(QStringLiteral("TablesLabel"));
    StatusBar1->addPermanentWidget(BoxLabel);
    StatusBar1->addPermanentWidget(TablesLabel);
    // The client area of an outer frame of 1131 x 768 on the system the layout was made for.
    resize(1115, 729 + StatusBar1->sizeHint().height());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(1131 / 2, 768 / 2));
    }

    QWidget* w = content_;
    ButtonConnect = MakePictureButton(w, "ButtonConnect", "Connect", ConnectPicture(), 8, 8);
    ButtonConnect->setEnabled(false);
    Shape1 = Place(new TShape(w, clRed), "Shape1", 16, 16, 17, 17);
    LabelSerial = MakeLabel(w, "LabelSerial", "BOX serial: --------", 182, 155, 108, 16, 13, false);
    LabelConnPort = MakeLabel(w, "LabelConnPort", "X", 95, 111, 12, 21, 17, true);
    ButtonSaveFile = MakePictureButton(w, "ButtonSaveFile", "Save file", SaveFilePicture(), 182, 8);
    ButtonOpenFile = MakePictureButton(w, "ButtonOpenFile", "Open file", OpenFilePicture(), 95, 8);
    LabelCopiedProg = MakeLabel(w, "LabelCopiedProg", "X", 878, 7, 14, 25, 21, true);
    Shape2 = Place(new TShape(w, clRed), "Shape2", 277, 8, 25, 24);
    LabelRPM = MakeLabel(w, "LabelRPM", "RPM: ", 277, 38, 48, 19, 16, true);
    LabelPress1 = MakeLabel(w, "LabelPress1", "CH1:", 277, 61, 39, 19, 16, true);
    LabelPress2 = MakeLabel(w, "LabelPress2", "CH2:", 277, 86, 39, 19, 16, true);
    Label1 = MakeLabel(w, "Label1", "Dyno log", 424, 602, 56, 16, 13, true);
    LabelPress3 = MakeLabel(w, "LabelPress3", "CH3:", 277, 111, 39, 19, 16, true);

    Image1 = Place(new TImage(w), "Image1", 930, 17, 162, 88);
    Image1->setPixmap(LogoPicture());
    Image1->setAlignment(Qt::AlignCenter);
    Image1->setToolTip(QStringLiteral("Double click to visit website"));

    ComboBoxComPorts = Place(new TComboBox(w), "ComboBoxComPorts", 8, 111, 81, 21);
    ComboBoxComPorts->setEditable(true);
    ComboBoxComPorts->setInsertPolicy(QComboBox::NoInsert);
    ComboBoxComPorts->lineEdit()->setPlaceholderText(QStringLiteral("Select Port"));
    ComboBoxComPorts->setFocusPolicy(Qt::ClickFocus);

    ButtonDownload = MakeButton(w, "ButtonDownload", "Download", 8, 152, 81, 25);
    ButtonDownload->setEnabled(false);
    ButtonSend = MakeButton(w, "ButtonSend", "Send", 95, 152, 81, 25);
    ButtonSend->setEnabled(false);
    ButtonPasteProg = MakeButton(w, "ButtonPasteProg", "Paste PROG", 794, 38, 100, 25);
    ButtonPasteProg->setEnabled(false);
    ButtonCopyProg = MakeButton(w, "ButtonCopyProg", "Copy PROG", 794, 8, 78, 25);
    ButtonDynoLog = MakeButton(w, "ButtonDynoLog", "Dyno log ON", 308, 8, 81, 25);
    ButtonDynoLog->setEnabled(false);

    PageControl1 = Place(new QTabWidget(w), "PageControl1", 8, kTopBarHeight, 900, 407);
    PageControl1->setTabPosition(QTabWidget::South);
    PageControl1->setUsesScrollButtons(false);
    CreateServicePage();
    for (int program = 1; program <= 9; ++program) CreateProgramPage(program);
    PageControl1->setCurrentIndex(1);
    // Each page's tables get their views when the page is first shown.
    TabSheetService->installEventFilter(this);
    for (int program = 1; program <= 9; ++program) TabSheetP[program]->installEventFilter(this);

    StrGridDynoLog = GridByName(Grid::StrGridDynoLog).MakeView(w);
    StrGridDynoLog->setGeometry(12, 621, 892, 104);
    StrGridDynoLog->setFocusPolicy(Qt::ClickFocus);

    for (int n = 0; n <= 9; ++n) {
        const QByteArray name = "ButtonP" + QByteArray::number(n);
        ButtonP[n] = MakeButton(w, name.constData(), QString::number(n), 424 + 30 * n, 140, 30, 40);
        ButtonP[n]->setFont(UiFont(24, true));
    }
    ButtonResetLog = MakeButton(w, "ButtonResetLog", "Reset log P>0", 395, 8, 89, 25);
    ButtonSetRPM = MakeButton(w, "ButtonSetRPM", "Set RPM to ALL", 698, 8, 90, 25);

    GroupBox1 =
        Place(new QGroupBox(QStringLiteral("Channel copy"), w), "GroupBox1", 794, 67, 110, 113);
    CheckBoxCopySend = Place(new QCheckBox(GroupBox1), "CheckBoxCopySend", 88, 85, 14, 14);
    CheckBoxCopySend->setToolTip(QStringLiteral("Copy and send"));
    CheckBoxCopySend->setFocusPolicy(Qt::ClickFocus);
    RadioButtCH1 =
        Place(new QRadioButton(QStringLiteral("CH1"), GroupBox1), "RadioButtCH1", 5, 20, 40, 14);
    RadioButtCH1->setChecked(true);
    RadioButtCH2 =
        Place(new QRadioButton(QStringLiteral("CH2"), GroupBox1), "RadioButtCH2", 5, 40, 40, 14);
    RadioButtCH3 =
        Place(new QRadioButton(QStringLiteral("CH3"), GroupBox1), "RadioButtCH3", 5, 61, 40, 14);
    RadioButtCH3->setEnabled(false);
    CheckBoxCH2 =
        Place(new QCheckBox(QStringLiteral("CH2"), GroupBox1), "CheckBoxCH2", 60, 40, 40, 14);
    CheckBoxCH2->setChecked(true);
    CheckBoxCH3 =
        Place(new QCheckBox(QStringLiteral("CH3"), GroupBox1), "CheckBoxCH3", 60, 60, 40, 14);
    CheckBoxCH3->setEnabled(false);
    CheckBoxCH1 =
        Place(new QCheckBox(QStringLiteral("CH1"), GroupBox1), "CheckBoxCH1", 60, 20, 40, 14);

    ButtonCopyPaste =
        MakeButton(w, "ButtonCopyPaste", QStringLiteral("Copy \u2192 Paste"), 799, 151, 80, 25);
    ButtonCopyPaste->setFocusPolicy(Qt::StrongFocus);

    Chart1 = Place(new TChart(w), "Chart1", 910, 190, 200, 105);
    Chart1->Line()->setObjectName(QStringLiteral("Series1"));
    Chart2 = Place(new TChart(w), "Chart2", 910, 305, 200, 105);
    Chart2->Line()->setObjectName(QStringLiteral("LineSeries1"));
    Chart3 = Place(new TChart(w), "Chart3", 910, 416, 200, 105);
    Chart3->Line()->setObjectName(QStringLiteral("LineSeries2"));

    FileListBox1 = Place(new QListWidget(w), "FileListBox1", 910, 525, 200, 200);
    FileListBox1->setUniformItemSizes(true);
    FileListBox1->setStyleSheet(QStringLiteral("QListWidget::item { height: 13px; }"));

    RadioButtP0 =
        Place(new QRadioButton(QStringLiteral("P=0"), w), "RadioButtP0", 504, 588, 40, 14);
    RadioButtP0->setChecked(true);
    RadioButtP1toP9 =
        Place(new QRadioButton(QStringLiteral("P>0"), w), "RadioButtP1toP9", 504, 604, 40, 14);
    // Each set of radio buttons is a group of its own; left to their common parent, the
    // window's radio buttons would mix with those of the channel copy box.
    auto* viewGroup = new QButtonGroup(this);
    viewGroup->addButton(RadioButtP0);
    viewGroup->addButton(RadioButtP1toP9);
    auto* sourceGroup = new QButtonGroup(this);
    for (QRadioButton* button : {RadioButtCH1, RadioButtCH2, RadioButtCH3}) {
        sourceGroup->addButton(button);
    }

    connection_ = new Connection(*this, vars_, this);
    connection_->setObjectName(QStringLiteral("Connection"));
    ApdComPort1 = &connection_->Port();

    for (QLabel* label :
         {LabelSerial, LabelConnPort, LabelRPM, LabelPress1, LabelPress2, LabelPress3}) {
        label->setProperty("autoSize", true);
    }
    const std::pair<Ctl, QWidget*> named[] = {{Ctl::LabelPress3, LabelPress3},
                                              {Ctl::ButtonP9, ButtonP[9]},
                                              {Ctl::RadioButtCH3, RadioButtCH3},
                                              {Ctl::CheckBoxCH3, CheckBoxCH3},
                                              {Ctl::ComboBoxPedalRes, ComboBoxPedalRes},
                                              {Ctl::ButtonDownload, ButtonDownload},
                                              {Ctl::ButtonSend, ButtonSend},
                                              {Ctl::ButtonDynoLog, ButtonDynoLog},
                                              {Ctl::Shape2, Shape2},
                                              {Ctl::RadioButtP0, RadioButtP0},
                                              {Ctl::RadioButtP1toP9, RadioButtP1toP9},
                                              {Ctl::LabelSerial, LabelSerial},
                                              {Ctl::LabelRPM, LabelRPM},
                                              {Ctl::LabelPress1, LabelPress1},
                                              {Ctl::LabelPress2, LabelPress2},
                                              {Ctl::EditNewSerial, EditNewSerial},
                                              {Ctl::NumBoxStartTime, NumBoxStartTime},
                                              {Ctl::RadioButtCH1, RadioButtCH1},
                                              {Ctl::RadioButtCH2, RadioButtCH2},
                                              {Ctl::CheckBoxCH1, CheckBoxCH1},
                                              {Ctl::CheckBoxCH2, CheckBoxCH2},
                                              {Ctl::CheckBoxCopySend, CheckBoxCopySend},
                                              {Ctl::StaticText1, StaticText1},
                                              {Ctl::CheckBoxCH3, CheckBoxCH3}};
    for (const auto& [id, widget] : named) controls_.emplace(id, WidgetControl(widget));
    for (int n = 0; n <= 8; ++n) controls_.emplace(ProgramButton(n), WidgetControl(ButtonP[n]));
}

void TForm1::CreateServicePage() {
    TabSheetService = new QWidget();
    TabSheetService->setObjectName(QStringLiteral("TabSheetService"));
    PageControl1->addTab(TabSheetService, QStringLiteral("Service"));
    QWidget* page = TabSheetService;

    NewserialLabel = MakeLabel(page, "NewserialLabel", "Serial number:", 20, 23, 86, 16, 13, false);
    Shape3 = Place(new TShape(page, clSilver, Qt::DiagCrossPattern), "Shape3", 3, 88, 248, 5);
    Label3 = MakeLabel(page, "Label3", "Start time (min):", 20, 111, 97, 16, 13, false);
    Label4 = MakeLabel(page, "Label4", "Pedal response:", 137, 111, 92, 16, 13, false);
    LabSENTchs =
        MakeLabel(page, "LabSENTchs", "CH1                 CH2", 480, 20, 151, 19, 16, true);
    LabSENTsd = MakeLabel(page, "LabSENTsd", "SENT serial data", 333, 23, 95, 16, 13, false);

    EditNewSerial = Place(new QLineEdit(page), "EditNewSerial", 20, 45, 93, 27);
    EditNewSerial->setFont(UiFont(16, true));
    EditNewSerial->setMaxLength(8);

    ComboBoxPedalRes = Place(new QComboBox(page), "ComboBoxPedalRes", 137, 133, 72, 24);
    ComboBoxPedalRes->setFont(UiFont(13, true));
    // The 72-pixel box holds "Normal" in bold only with narrow margins beside the text.
    ComboBoxPedalRes->setStyle(TightComboStyle());

    NumBoxStartTime = Place(new TNumBox(9, page), "NumBoxStartTime", 20, 133, 33, 27);
    NumBoxStartTime->setFont(UiFont(16, true));
    NumBoxStartTime->setValue(0);

    StaticText1 = Place(new QLabel(page), "StaticText1", 3, 248, 853, 121);
    StaticText1->setFrameShape(QFrame::Box);
    StaticText1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The raw listing runs to 64 records a channel: it wraps at the box's width.
    StaticText1->setWordWrap(true);
}

void TForm1::CreateProgramPage(int program) {
    auto* page = new QWidget();
    page->setObjectName(QStringLiteral("TabSheetP%1").arg(program));
    PageControl1->addTab(page, QStringLiteral("P%1").arg(program));
    TabSheetP[program] = page;
}

void TForm1::CreateTables() {
    const auto add = [this](Grid id, const char* name, const GridOptions& options) {
        ownedTables_.push_back(
            std::make_unique<TableText>(QString::fromLatin1(name), options, this));
        namedTables_[static_cast<size_t>(id)] = ownedTables_.back().get();
    };
    add(Grid::StrGridConfNam, "StrGridConfNam", {16, 2, 0, 1, 52, 24, false, false, true});
    add(Grid::StrGridConfig, "StrGridConfig", {16, 1, 0, 0, 52, 24, true, true, true});
    add(Grid::StrGridSDnames, "StrGridSDnames", {2, 5, 1, 0, 110, 20, false, true, false});
    add(Grid::StrGridSDdata, "StrGridSDdata", {2, 5, 0, 0, 120, 20, false, true, true});
    add(Grid::StrGridDynoLog, "StrGridDynoLog", GridOptions{});
    GridByName(Grid::StrGridConfNam).SetEnabled(false);
    StrGridConfNam = PageGrid(this, 0, &GridByName(Grid::StrGridConfNam));
    StrGridConfig = PageGrid(this, 0, &GridByName(Grid::StrGridConfig));
    StrGridSDnames = PageGrid(this, 0, &GridByName(Grid::StrGridSDnames));
    StrGridSDdata = PageGrid(this, 0, &GridByName(Grid::StrGridSDdata));

    static const char* const kSuffixes[4] = {"CH1", "CH2", "CH3", "Fuel"};
    for (int program = 1; program <= 9; ++program) {
        for (int table = 0; table < 4; ++table) {
            GridOptions options;
            options.rows = table == 3 ? 1 : 4;
            ownedTables_.push_back(std::make_unique<TableText>(
                QStringLiteral("StrGridP%1%2").arg(program).arg(kSuffixes[table]), options, this));
            programTables_[program][table] = ownedTables_.back().get();
            programTables_[program][table]->SetStoredRange(kMapValueRange, 1, 16);
        }
    }
}

void TForm1::MakePageViews(int page) {
    if (page < 0 || page > 9 || pageViewsMade_[page]) return;
    pageViewsMade_[page] = true;
    if (page == 0) {
        for (Grid id : {Grid::StrGridConfNam, Grid::StrGridConfig, Grid::StrGridSDnames,
                        Grid::StrGridSDdata}) {
            GridByName(id).MakeView(TabSheetService);
        }
        StrGridConfNam->setGeometry(4, 181, 852, 52);
        StrGridConfig->setGeometry(4, 205, 852, 28);
        StrGridConfig->setFont(UiFont(13, true));
        StrGridSDnames->setGeometry(324, 45, 114, 108);
        StrGridSDdata->setGeometry(437, 45, 245, 108);
        // The page's Tab order is its controls' order on the page.
        QWidget::setTabOrder(EditNewSerial, StrGridConfNam);
        QWidget::setTabOrder(StrGridConfNam, StrGridConfig);
        QWidget::setTabOrder(NumBoxStartTime, StrGridSDnames);
        QWidget::setTabOrder(StrGridSDnames, StrGridSDdata);
        for (TStringGrid* grid : {StrGridConfNam.get(), StrGridConfig.get()}) {
            connect(grid, &TStringGrid::keyDown, this, &TForm1::StringGridKeyDown);
        }
        WireTableView(StrGridConfig);
        connect(StrGridConfig, &TStringGrid::mouseDown, this, &TForm1::StrGridConfigMouseDown);
        return;
    }
    static const QRect kPlaces[4] = {
        {0, 0, 892, 105}, {0, 112, 892, 105}, {0, 226, 892, 105}, {0, 342, 892, 28}};
    std::array<TStringGrid*, 4> grids{};
    for (int table = 0; table < 4; ++table) {
        grids[table] = programTables_[page][table]->MakeView(TabSheetP[page]);
        grids[table]->setGeometry(kPlaces[table]);
        connect(grids[table], &TStringGrid::keyDown, this, &TForm1::StringGridKeyDown);
        WireTableView(grids[table]);
    }
    // The Tab key walks the tables downwards; on P9 from the fuel row up.
    if (page == 9) {
        QWidget::setTabOrder(grids[3], grids[2]);
        QWidget::setTabOrder(grids[2], grids[1]);
        QWidget::setTabOrder(grids[1], grids[0]);
    } else {
        for (int table = 0; table < 3; ++table)
            QWidget::setTabOrder(grids[table], grids[table + 1]);
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show) {
        if (watched == TabSheetService) MakePageViews(0);
        for (int page = 1; page <= 9; ++page) {
            if (watched == TabSheetP[page]) MakePageViews(page);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::WireHandlers() {
    connect(PageControl1, &QTabWidget::currentChanged, this, &TForm1::PageControl1Change);
    connect(Chart1, &TChart::doubleClicked, this, &TForm1::Chart1DblClick);
    connect(Chart2, &TChart::doubleClicked, this, &TForm1::Chart2DblClick);
    connect(Chart3, &TChart::doubleClicked, this, &TForm1::Chart3DblClick);
    connect(Image1, &TImage::doubleClicked, this, &TForm1::Image1DblClick);
    connect(scroll_, &TFormScrollArea::wheelDown, this, &TForm1::FormMouseWheelDown);
    connect(scroll_, &TFormScrollArea::wheelUp, this, &TForm1::FormMouseWheelUp);
    connect(ButtonOpenFile, &QToolButton::clicked, this, &TForm1::ButtonOpenFileClick);
    connect(ButtonSaveFile, &QToolButton::clicked, this, &TForm1::ButtonSaveFileClick);
    connect(FileListBox1, &QListWidget::itemDoubleClicked, this, &TForm1::FileListBox1DblClick);
    connect(ButtonSetRPM, &QPushButton::clicked, this, &TForm1::ButtonSetRPMClick);
    connect(ButtonCopyProg, &QPushButton::clicked, this, &TForm1::ButtonCopyProgClick);
    connect(ButtonPasteProg, &QPushButton::clicked, this, &TForm1::ButtonPasteProgClick);
    // The tables on the pages are wired when their views are made (MakePageViews).
    connect(StrGridDynoLog, &TStringGrid::keyDown, this, &TForm1::StringGridKeyDown);
    WireTableView(StrGridDynoLog);
    connect(ComboBoxComPorts, &TComboBox::dropDown, this, &TForm1::ComboBoxComPortsDropDown);
    connect(ComboBoxComPorts, &QComboBox::activated, this, &TForm1::ComboBoxComPortsSelect);
    // A port name typed by hand is as good as one picked from the list.
    connect(ComboBoxComPorts->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& text) {
                if (!text.trimmed().isEmpty()) ButtonConnect->setEnabled(true);
            });
    connect(ButtonConnect, &QToolButton::clicked, this, &TForm1::ButtonConnectClick);
    connect(ButtonDownload, &QPushButton::clicked, this, &TForm1::ButtonDownloadClick);
    connect(ButtonSend, &QPushButton::clicked, this, &TForm1::ButtonSendClick);
    void (TForm1::*const programHandlers[10])() = {&TForm1::ButtonP0Click, &TForm1::ButtonP1Click,
                                                   &TForm1::ButtonP2Click, &TForm1::ButtonP3Click,
                                                   &TForm1::ButtonP4Click, &TForm1::ButtonP5Click,
                                                   &TForm1::ButtonP6Click, &TForm1::ButtonP7Click,
                                                   &TForm1::ButtonP8Click, &TForm1::ButtonP9Click};
    for (int n = 0; n <= 9; ++n)
        connect(ButtonP[n], &QPushButton::clicked, this, programHandlers[n]);
    connect(ButtonDynoLog, &QPushButton::clicked, this, &TForm1::ButtonDynoLogClick);
    connect(connection_, &Connection::Lost, this, &TForm1::ConnectionLost);
    connect(connection_, &Connection::Idle, this, &TForm1::EndDownloadStep);
    connect(connection_, &Connection::SessionChanged, this, &TForm1::ShowSession);
    connect(connection_, &Connection::PreviewBeforeSend, this, &TForm1::ShowSendPreview);
    connect(connection_, &Connection::TablesReadFromBox, this,
            [this](const QString& serial, bool afterSend) {
                TakeBaseline(
                    {TablesOrigin::Kind::Box, serial, QDateTime::currentDateTime(), afterSend});
            });
    connect(EditNewSerial, &QLineEdit::textChanged, this, &TForm1::NoteChanges);
    connect(NumBoxStartTime, &QSpinBox::valueChanged, this, &TForm1::NoteChanges);
    connect(ComboBoxPedalRes, &QComboBox::currentIndexChanged, this, &TForm1::NoteChanges);
    connect(connection_, &Connection::Failed, this,
            [](const QString& message) { ShowError(message); });
    connect(connection_, &Connection::VerifyFailed, this, [this](const QString& report) {
        ShowFirstDifference();
        ShowError(report, QString::fromLatin1(kVerifyFailedTitle));
    });
    connect(connection_, &Connection::OtherBoxBeforeSend, this, &TForm1::AskToSendToOtherBox);
    connect(ButtonCopyPaste, &QPushButton::clicked, this, &TForm1::ButtonCopyPasteClick);
    connect(ButtonResetLog, &QPushButton::clicked, this, &TForm1::ButtonResetLogClick);
    connect(RadioButtP0, &QRadioButton::clicked, this, &TForm1::RadioButtP0Click);
    connect(RadioButtP1toP9, &QRadioButton::clicked, this, &TForm1::RadioButtP1toP9Click);
}

TableText& TForm1::ProgramGrid(int program, ProgramTable table) {
    if (program < 1 || program > 9) throw std::out_of_range("program number");
    return *programTables_[program].at(static_cast<size_t>(table));
}

TStringGrid* TForm1::ProgramGridWidget(int program, ProgramTable table) {
    TableText& text = ProgramGrid(program, table);
    MakePageViews(program);
    return text.View();
}

TableText& TForm1::GridByName(Grid grid) {
    const auto at = static_cast<size_t>(grid);
    if (at >= namedTables_.size()) throw std::out_of_range("grid name");
    return *namedTables_[at];
}

Control& TForm1::ControlByName(Ctl control) {
    return controls_.at(control);
}

ChartSeries& TForm1::Series(int chart) {
    switch (chart) {
        case 1:
            return *Chart1;
        case 2:
            return *Chart2;
        case 3:
            return *Chart3;
    }
    throw std::out_of_range("chart number");
}

int TForm1::PageIndex() const {
    return PageControl1->currentIndex();
}

void TForm1::SetPageIndex(int index) {
    const QSignalBlocker blocker(PageControl1);
    PageControl1->setCurrentIndex(index);
}

void TForm1::SetUrlOpener(std::function<void(const QUrl&)> opener) {
    UrlOpener() = std::move(opener);
}

void TForm1::PageControl1Change() {
    Guarded([&] { ShownPageChanged(*this, vars_.Edition()); });
}

void TForm1::Chart1DblClick() {
    Guarded([&] { history_->Record("Smooth CH1", [&] { SmoothShownChannel(*this, 1); }); });
}

void TForm1::Chart2DblClick() {
    Guarded([&] { history_->Record("Smooth CH2", [&] { SmoothShownChannel(*this, 2); }); });
}

void TForm1::Chart3DblClick() {
    Guarded([&] { history_->Record("Smooth CH3", [&] { SmoothShownChannel(*this, 3); }); });
}

void TForm1::Image1DblClick() {
    // A missing browser is not worth a message: the window simply stays as it is.
    Guarded([&] {
        if (UrlOpener()) UrlOpener()(QUrl(QString::fromLatin1(kWebsite)));
    });
}

void TForm1::FormMouseWheelDown() {
    QScrollBar* bar = scroll_->verticalScrollBar();
    bar->setValue(bar->value() + 20);
}

void TForm1::FormMouseWheelUp() {
    QScrollBar* bar = scroll_->verticalScrollBar();
    bar->setValue(bar->value() - 20);
}

void TForm1::SetFileChooser(FileChooser chooser) {
    Chooser() = std::move(chooser);
}

QFileDialog* TForm1::FileDialog(bool save) {
    // The dialogs are made when first needed: they cost as much to build as the tables.
    QFileDialog*& dialog = save ? SaveDialog1 : OpenDialog1;
    if (dialog == nullptr) {
        dialog = new QFileDialog(this);
        dialog->setObjectName(save ? QStringLiteral("SaveDialog1") : QStringLiteral("OpenDialog1"));
        dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        // Qt's own dialog matches the filter without regard to case, so "*.BIN" files show too.
        dialog->setOption(QFileDialog::DontUseNativeDialog);
        dialog->setModal(true);
    }
    return dialog;
}

QString TForm1::ChooseFile(QFileDialog* dialog) {
    dialog->setNameFilter(QString::fromLatin1(kTuningFileFilter));
    return RunFileChooser(dialog);
}

QString TForm1::RunFileChooser(QFileDialog* dialog) {
    return Chooser() ? Chooser()(dialog) : QString();
}

void TForm1::ShowLiveGraph() {
    if (graph_ == nullptr) {
        graph_ = new LiveGraph(*this);
        connect(connection_, &Connection::LiveSampleReceived, graph_, &LiveGraph::AddLive);
        connect(connection_, &Connection::LiveStreamChanged, graph_, &LiveGraph::StreamChanged);
        // A lost connection reaches the graph through ConnectionLost, before any message.
        if (vars_.DynoLogging != 0) graph_->StreamChanged(true);
        // The graph's frame is not known before the window manager has framed it: it is
        // taken to be the main window's.
        const QRect inner = geometry();
        const QRect outer = frameGeometry();
        const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                             outer.right() - inner.right(), outer.bottom() - inner.bottom());
        const QPoint tables = content_->mapToGlobal(QPoint(0, kTopBarHeight));
        const QRect room = screen() != nullptr ? screen()->availableGeometry() : outer;
        const QRect place = PlaceGraphWindow(
            outer, tables, QSize(860, 560).grownBy(frame),
            graph_->minimumSizeHint().expandedTo(graph_->minimumSize()).grownBy(frame), room);
        graph_->resize(place.size().shrunkBy(frame));
        graph_->move(place.topLeft());
    }
    graph_->show();
    graph_->raise();
    graph_->activateWindow();
}

void TForm1::ButtonOpenFileClick() {
    Guarded([&] {
        const QString name = ChooseFile(FileDialog(false));
        if (name.isEmpty()) return;
        OpenTuningFile(name);
    });
}

void TForm1::FileListBox1DblClick() {
    Guarded([&] {
        QListWidgetItem* item = FileListBox1->currentItem();
        if (item == nullptr || !item->isSelected()) return;
        OpenTuningFile(item->text());
    });
}

void TForm1::OpenTuningFile(const QString& path) {
    ClearMarks();
    char fileEdition = '\0';
    history_->Record("Open file",
                     [&] { fileEdition = LoadTuningFile(*this, vars_, path.toStdString()); });
    TakeBaseline({TablesOrigin::Kind::File, QFileInfo(path).fileName(),
                  QDateTime::currentDateTime(), false});
    // The zeros are what the file says, and the next send would write them.
    if (fileEdition == '2' && vars_.Edition() == '3') {
        StatusBar1->showMessage(
            QStringLiteral("%1 is a 2-channel file: CH3 and FUEL% were set to 0; Ctrl+Z takes it "
                           "back")
                .arg(QFileInfo(path).fileName()));
    } else {
        // A note about an earlier file would speak of tables that are gone.
        StatusBar1->showMessage(connection_->StatusText());
    }
}

void TForm1::ButtonSaveFileClick() {
    Guarded([&] {
        // Encoding first: a bad cell stops the save before any dialog shows.
        const std::vector<uint8_t> bytes = EncodeTuningFile(*this, vars_.Edition());
        if (bytes.empty()) return;
        // Every cell is a number now; one the box cannot store is not wrapped into the file.
        if (const std::optional<UnstorableValue> bad = FindUnstorableValue(*this, vars_.Edition()))
            throw FileError(ShowUnstorable(*this, *bad, "Nothing was saved."));
        const QString chosen = ChooseFile(FileDialog(true));
        if (chosen.isEmpty()) return;
        SaveFileAtomically(QString::fromStdString(TuningFileName(chosen.toStdString())), bytes);
        savedTexts_ = TextsDigest();
        NoteChanges();
    });
}

std::vector<TableText*> TForm1::StoredTables() const {
    std::vector<TableText*> tables;
    tables.reserve(9 * 4 + 1);
    for (int program = 1; program <= 9; ++program)
        tables.insert(tables.end(), programTables_[program].begin(), programTables_[program].end());
    tables.push_back(namedTables_[static_cast<size_t>(Grid::StrGridConfig)]);
    return tables;
}

QByteArray TForm1::TextsDigest() const {
    // What a save writes: the live data and the dyno log change without making the tables
    // unsaved.
    QCryptographicHash digest(QCryptographicHash::Sha1);
    for (const TableText* table : StoredTables()) {
        for (const QString& text : table->Model().Texts()) {
            digest.addData(text.toUtf8());
            digest.addData(QByteArrayView("\0", 1));
        }
    }
    for (const QString& setting : Settings()) digest.addData(setting.toUtf8());
    return digest.result();
}

std::array<QString, 3> TForm1::Settings() const {
    return {EditNewSerial->text(), NumBoxStartTime->cleanText(),
            QString::number(ComboBoxPedalRes->currentIndex())};
}

void TForm1::TakeBaseline(const TablesOrigin& origin) {
    for (TableText* table : StoredTables()) table->Model().SetBaseline();
    settingsBaseline_ = Settings();
    // Any change from here differs from what came, so no digest of it is needed.
    savedTexts_.clear();
    connection_->SetTablesOrigin(origin);
    NoteChanges();
}

int TForm1::TablesChanges() const {
    int changes = 0;
    for (const TableText* table : StoredTables()) changes += table->Model().Changes();
    const std::array<QString, 3> settings = Settings();
    for (size_t k = 0; k < settings.size(); ++k) {
        if (settingsBaseline_ && settings[k] != (*settingsBaseline_)[k]) ++changes;
    }
    return changes;
}

void TForm1::NoteChanges() {
    if (changesDue_) return;
    // Said once the change is whole: a paste or a download sets many cells, each of which
    // comes here; the clock is read once for all of them.
    changesDue_ = true;
    QTimer::singleShot(0, this, [this] {
        changesDue_ = false;
        lastChange_ = QDateTime::currentDateTime();
        connection_->SetTablesChanges(TablesChanges());
        KeepForRecovery();
    });
}

namespace {
bool& RecoveryEnabled() {
    static bool enabled = false;
    return enabled;
}
}  // namespace

void TForm1::SetRecoveryEnabled(bool on) {
    RecoveryEnabled() = on;
}

void TForm1::KeepForRecovery() {
    // A file left by an earlier run is the user's to take or drop first.
    if (!RecoveryEnabled() || !recoveryDecided_) return;
    if (!UnsavedChanges()) {
        recoveryDue_.stop();
        RecoveryStore::Remove();
        return;
    }
    // At most every 2 s: a change comes in at once when none came for that long.
    const qint64 since = recoveryWritten_.isValid() ? recoveryWritten_.elapsed() : kRecoveryMs;
    if (since >= kRecoveryMs) {
        WriteRecovery();
    } else if (!recoveryDue_.isActive()) {
        recoveryDue_.start(static_cast<int>(kRecoveryMs - since));
    }
}

void TForm1::WriteRecovery() {
    RecoveryState state;
    for (const TableText* table : StoredTables())
        state.tables.push_back({table->Name(), table->Model().Texts(), table->Model().Baseline()});
    state.settings = Settings();
    state.settingsBaseline = settingsBaseline_;
    state.origin = connection_->State().origin;
    state.changes = TablesChanges();
    state.lastChange = lastChange_;
    try {
        RecoveryStore::Write(state);
    } catch (const std::exception&) {
        // A full disk must not stop the editing; the next change tries again.
    }
    recoveryWritten_.start();
}

void TForm1::OfferRecovery() {
    if (!RecoveryEnabled()) return;
    const std::optional<RecoveryState> state = RecoveryStore::Read();
    if (!state) {
        RecoveryStore::Remove();
        recoveryDecided_ = true;
        KeepForRecovery();
        return;
    }
    AskYesNo(
        QStringLiteral("Restore"),
        QStringLiteral("The tool ended before the tables were saved or sent (%1, last at %2). "
                       "Restore them?")
            .arg(state->changes == 1 ? QStringLiteral("1 change")
                                     : QStringLiteral("%1 changes").arg(state->changes))
            .arg(state->lastChange.toString(QStringLiteral("HH:mm:ss"))),
        [this, recovered = *state](bool yes) {
            recoveryDecided_ = true;
            if (yes) {
                Restore(recovered);
            } else {
                RecoveryStore::Remove();
                KeepForRecovery();
            }
        },
        true, this);
}

void TForm1::Restore(const RecoveryState& state) {
    std::map<QString, TableText*> byName;
    for (TableText* table : StoredTables()) byName[table->Name()] = table;
    // The box's edition comes back with the serial number field, so that the tables show and
    // save as that box's.
    const std::string serial = state.settings[0].toStdString();
    if (EditionOf(serial) != '\0') {
        vars_.BoxSerial = serial;
        Guarded([&] { ApplyEditionLayout(*this, EditionOf(serial)); });
    }
    history_->Record(QStringLiteral("Restore"), [&] {
        for (const RecoveryState::Table& saved : state.tables) {
            const auto found = byName.find(saved.name);
            if (found == byName.end()) continue;
            CellModel& model = found->second->Model();
            const int cols = model.columnCount();
            for (size_t k = 0; k < saved.texts.size() && k < model.Texts().size(); ++k) {
                const int col = static_cast<int>(k) % cols;
                const int row = static_cast<int>(k) / cols;
                if (!model.IsFixed(col, row)) model.SetText(col, row, saved.texts[k]);
            }
        }
    });
    for (const RecoveryState::Table& saved : state.tables) {
        const auto found = byName.find(saved.name);
        if (found != byName.end()) found->second->Model().SetBaseline(saved.baseline);
    }
    EditNewSerial->setText(state.settings[0]);
    ControlByName(Ctl::NumBoxStartTime).SetCaption(state.settings[1].toStdString());
    ComboBoxPedalRes->setCurrentIndex(state.settings[2].toInt());
    settingsBaseline_ = state.settingsBaseline;
    if (state.origin.kind == TablesOrigin::Kind::Box)
        vars_.TablesSerial = state.origin.name.toStdString();
    savedTexts_.clear();
    connection_->SetTablesOrigin(
        {TablesOrigin::Kind::Restored, state.origin.name, state.origin.when, false});
    Guarded([&] { RefreshCharts(*this); });
    NoteChanges();
}

bool TForm1::UnsavedChanges() const {
    if (TablesChanges() == 0) return false;
    // Only a save since the tables came leaves a digest to hold the texts against.
    return savedTexts_.isEmpty() || TextsDigest() != savedTexts_;
}

void TForm1::closeEvent(QCloseEvent* event) {
    const int changes = TablesChanges();
    if (UnsavedChanges() &&
        !AskYesNoNow(
            QStringLiteral("Close"),
            QStringLiteral("%1 %2 neither sent to the box nor saved. Close anyway?")
                .arg(changes)
                .arg(changes == 1 ? QStringLiteral("change is") : QStringLiteral("changes are")))) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TForm1::ButtonSetRPMClick() {
    Guarded([&] { history_->Record("Set RPM to ALL", [&] { SetRpmToAll(*this, vars_); }); });
}

void TForm1::ButtonCopyProgClick() {
    Guarded([&] {
        const int page = CopyShownProgram(*this, vars_);
        LabelCopiedProg->setText(QString::number(page));
        ButtonPasteProg->setEnabled(true);
    });
}

void TForm1::ButtonPasteProgClick() {
    Guarded([&] { history_->Record("Paste PROG", [&] { PasteShownProgram(*this, vars_); }); });
}

void TForm1::StringGridKeyDown(int key, Qt::KeyboardModifiers modifiers) {
    switch (key) {
        case Qt::Key_Control:
        case Qt::Key_Shift:
        case Qt::Key_Alt:
        case Qt::Key_Meta:
        case Qt::Key_AltGr:
            // A real keyboard sends the modifier down before the key it modifies. The charts
            // are redrawn as for any key, but a cell they cannot draw is said at the key
            // itself: said now, the message would take that key (an edit, or Ctrl+Z taking
            // the bad text back) before it is even typed.
            try {
                ProgramTableKeyDown(*this, vars_, 0, false);
            } catch (const ConversionError&) {
            }
            return;
        default:
            break;
    }
    Guarded([&] {
        const bool ctrl = modifiers & Qt::ControlModifier;
        if (!ctrl) return ProgramTableKeyDown(*this, vars_, VirtualKey(key), false);
        history_->Record(QStringLiteral("Ctrl key in a table"),
                         [&] { ProgramTableKeyDown(*this, vars_, VirtualKey(key), true); });
    });
}

void TForm1::StrGridConfigMouseDown() {
    Guarded([&] { ConfigRowMouseDown(GridByName(Grid::StrGridConfig), vars_.Edition()); });
}

void TForm1::SetExtraPorts(const QStringList& ports) {
    ExtraPorts() = ports;
}

void TForm1::ShowPortList(const QStringList& ports) {
    const QString typed = ComboBoxComPorts->currentText();
    ComboBoxComPorts->clear();
    ComboBoxComPorts->addItems(ports);
    // Rebuilding the list keeps what the user has typed or picked.
    ComboBoxComPorts->setCurrentIndex(-1);
    ComboBoxComPorts->setEditText(typed);
}

void TForm1::FillPortListInBackground() {
    // Asking the system for its serial ports takes a while; at start-up it is done beside
    // the window, which shows the list as soon as it is known.
    portScan_ = new QFutureWatcher<QStringList>(this);
    connect(portScan_, &QFutureWatcher<QStringList>::finished, this, [this] {
        ShowPortList(portScan_->result());
        portScan_->deleteLater();
        portScan_ = nullptr;
    });
    portScan_->setFuture(QtConcurrent::run(&TApdComPort::OpenablePorts, ExtraPorts()));
}

void TForm1::FinishPortScan() {
    // The scan opens each port for a moment: nothing else may open one meanwhile.
    if (portScan_ != nullptr) portScan_->waitForFinished();
}

void TForm1::ComboBoxComPortsDropDown() {
    FinishPortScan();
    Guarded([&] { ShowPortList(TApdComPort::OpenablePorts(ExtraPorts())); });
}

void TForm1::ComboBoxComPortsSelect() {
    ButtonConnect->setEnabled(true);
}

void TForm1::ButtonConnectClick() {
    FinishPortScan();
    Guarded([&] {
        const int number = TApdComPort::NumberAtEnd(ComboBoxComPorts->currentText().trimmed());
        SetLabelText(LabelConnPort, number >= 0 ? QString::number(number) : QStringLiteral("X"));
        if (connection_->IsOpen()) {
            connection_->Close();
            return;
        }
        connection_->Open(ComboBoxComPorts->currentText());
    });
}

void TForm1::ShowSession() {
    const SessionState state = connection_->State();
    using Phase = SessionState::Phase;
    const bool open = state.phase != Phase::Disconnected && state.phase != Phase::WaitingForPort;
    Shape1->SetBrushColor(open ? clLime : clRed);
    ButtonConnect->setText(open ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    ButtonDownload->setEnabled(state.buttons.download);
    ButtonSend->setEnabled(state.buttons.send);
    ButtonDynoLog->setEnabled(state.buttons.dynoLog);
    const bool streaming = state.phase == Phase::Streaming;
    ButtonDynoLog->setText(streaming ? QStringLiteral("Dyno log OFF")
                                     : QStringLiteral("Dyno log ON"));
    Shape2->SetBrushColor(streaming ? clLime : clRed);
    // The connection's line replaces what the window said last only when it changes.
    if (state.status != shownStatus_) {
        shownStatus_ = state.status;
        StatusBar1->showMessage(state.status);
    }
    BoxLabel->setText(open ? BoxText(state.boxSerial) : QString());
    TablesLabel->setText(OriginText(state.origin, state.changes));
}

void TForm1::ConnectionLost(const QString& reason) {
    // The recording is finished before anything is said, whatever else is connected to the
    // signal and in whatever order: a message box must not stand before a half-written file.
    if (graph_ != nullptr) graph_->ConnectionLost();
    Guarded(
        [&] { ShowError(QStringLiteral("The connection to the box was lost: %1").arg(reason)); });
}

void TForm1::ButtonDownloadClick() {
    Guarded([&] {
        // While the box still answers, the download is refused: the exchange in progress
        // keeps its step, and no marks are cleared.
        const bool busy = vars_.Awaiting != 0;
        if (!busy) {
            EndDownloadStep();
            ClearMarks();
            downloadBefore_ = history_->Take();
            downloadStepName_ = QStringLiteral("Download");
        }
        try {
            connection_->Download();
        } catch (...) {
            if (!busy) downloadBefore_.reset();
            throw;
        }
        // A download that did not start ends here.
        if (!busy && vars_.Awaiting == 0) EndDownloadStep();
    });
}

void TForm1::ButtonSendClick() {
    StartSend({});
}

void TForm1::AskToSendToOtherBox(const QString& tablesSerial, const QString& boxSerial) {
    AskYesNo(QStringLiteral("Another box"),
             QStringLiteral("The tables come from box %1, but box %2 is behind %3.\n\nSend them "
                            "to box %2? Its maps and settings will be overwritten (a backup of "
                            "it is written first).")
                 .arg(tablesSerial, boxSerial, connection_->PortName()),
             [this](bool yes) {
                 if (yes) StartSend({true, false});
             });
}

void TForm1::ShowSendPreview(const QStringList& changes, const QString& boxSerial,
                             SendConsent consent) {
    // Opened once the handler that found the changes has returned, as every message is.
    QTimer::singleShot(0, this, [this, changes, boxSerial, consent] {
        QDialog dialog(this);
        dialog.setObjectName(QStringLiteral("SendPreview"));
        dialog.setWindowTitle(QStringLiteral("Send to box %1").arg(boxSerial));
        auto* layout = new QVBoxLayout(&dialog);
        auto* summary = new QLabel(
            changes.isEmpty() ? QStringLiteral("Nothing would change on box %1.").arg(boxSerial)
                              : QStringLiteral("%1 %2 change on box %3:")
                                    .arg(changes.size())
                                    .arg(changes.size() == 1 ? QStringLiteral("value would")
                                                             : QStringLiteral("values would"))
                                    .arg(boxSerial),
            &dialog);
        summary->setObjectName(QStringLiteral("Summary"));
        layout->addWidget(summary);
        auto* list = new QPlainTextEdit(changes.join(QLatin1Char('\n')), &dialog);
        list->setObjectName(QStringLiteral("Changes"));
        list->setReadOnly(true);
        list->setVisible(!changes.isEmpty());
        list->setMinimumSize(520, 260);
        layout->addWidget(list);
        auto* buttons = new QDialogButtonBox(&dialog);
        QPushButton* send =
            buttons->addButton(QStringLiteral("Send"), QDialogButtonBox::AcceptRole);
        buttons->addButton(QDialogButtonBox::Cancel);
        send->setDefault(true);
        send->setFocus();
        connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        layout->addWidget(buttons);
        if (dialog.exec() == QDialog::Accepted) StartSend({consent.otherBox, true});
    });
}

void TForm1::StartSend(SendConsent consent) {
    Guarded([&] {
        // The read-back that ends the send fills the tables: one step, so that one undo
        // brings back the tables as they were sent.
        const bool busy = vars_.Awaiting != 0;
        if (!busy) {
            EndDownloadStep();
            downloadBefore_ = history_->Take();
            downloadStepName_ = QStringLiteral("Read-back of Send");
        }
        try {
            connection_->Send(consent);
        } catch (...) {
            if (!busy) downloadBefore_.reset();
            throw;
        }
        if (!busy && vars_.Awaiting == 0) downloadBefore_.reset();
    });
}

void TForm1::ShowFirstDifference() {
    const Variables::CellPlace& place = vars_.FirstDifferentCell;
    if (place.program < 0 || place.program > 9) return;
    TextGrid& grid = place.program == 0
                         ? static_cast<TextGrid&>(GridByName(Grid::StrGridConfig))
                         : ProgramGrid(place.program, static_cast<ProgramTable>(place.table));
    PageControl1->setCurrentIndex(place.program);
    Guarded([&] {
        grid.SetRow(place.row);
        grid.SetCol(place.col);
    });
}

void TForm1::ButtonPClick(int n) {
    Guarded([&] { connection_->SelectProgram(n); });
}

void TForm1::ButtonDynoLogClick() {
    Guarded([&] { connection_->SwitchDynoLog(); });
}

void TForm1::ButtonCopyPasteClick() {
    Guarded([&] { history_->Record("Copy \u2192 Paste", [&] { CopyShownChannel(*this); }); });
    if (CheckBoxCopySend->isChecked()) ButtonSendClick();
}

void TForm1::ButtonResetLogClick() {
    Guarded([&] { ResetDynoLogP1toP9(*this, vars_); });
}

void TForm1::RadioButtP0Click() {
    Guarded([&] {
        if (RadioButtP0->isChecked()) ShowDynoLog(*this, vars_.DynoLogP0, false);
    });
}

void TForm1::RadioButtP1toP9Click() {
    Guarded([&] {
        if (RadioButtP1toP9->isChecked()) ShowDynoLog(*this, vars_.DynoLogP1toP9, false);
    });
}

void TForm1::CreateHistory() {
    std::vector<EditHistory::Table> tables;
    for (int program = 1; program <= 9; ++program) {
        for (TableText* table : programTables_[program]) tables.push_back({table, program});
    }
    tables.push_back({&GridByName(Grid::StrGridConfig), 0});
    history_ = new EditHistory(
        tables,
        [this](int page) {
            // An undone change shows on its page, with the charts of what it is now.
            if (PageIndex() != page) {
                PageControl1->setCurrentIndex(page);
            } else {
                Guarded([&] { RefreshCharts(*this); });
            }
        },
        this);
    for (const EditHistory::Table& table : tables) {
        // The count of differences from a compared file follows edits, undo and redo; it is
        // said once the change is whole.
        connect(&table.text->Model(), &CellModel::comparisonChanged, this, [this] {
            if (comparisonShowDue_ || comparedName_.isEmpty()) return;
            comparisonShowDue_ = true;
            QTimer::singleShot(0, this, [this] {
                comparisonShowDue_ = false;
                ShowComparison();
            });
        });
        connect(&table.text->Model(), &CellModel::changesChanged, this, &TForm1::NoteChanges);
        connect(&table.text->Model(), &CellModel::edited, this,
                [this, text = table.text](int col, int row, const QString& before,
                                          const QString& after) {
                    history_->Typed(text, col, row, before, after);
                });
    }

    const auto action = [this](const QString& text, const QList<QKeySequence>& keys,
                               void (TForm1::*handler)()) {
        auto* item = new QAction(text, this);
        item->setShortcuts(keys);
        item->setShortcutVisibleInContextMenu(true);
        addAction(item);
        if (handler != nullptr) connect(item, &QAction::triggered, this, handler);
        return item;
    };
    UndoAction = action(QStringLiteral("Undo"), {QKeySequence(Qt::CTRL | Qt::Key_Z)}, nullptr);
    RedoAction =
        action(QStringLiteral("Redo"),
               {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
               nullptr);
    CompareAction = action(QStringLiteral("Compare with file\u2026"), {}, &TForm1::CompareWithFile);
    ClearMarksAction = action(QStringLiteral("Clear marks"), {}, &TForm1::ClearMarks);
    CopyRangeAction = action(QStringLiteral("Copy range"),
                             {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C)}, &TForm1::CopyRange);
    PasteRangeAction =
        action(QStringLiteral("Paste range"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V)},
               &TForm1::PasteRange);
    AddAction = action(QStringLiteral("Add\u2026"),
                       {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A)}, &TForm1::AddToSelection);
    MultiplyAction =
        action(QStringLiteral("Multiply by %\u2026"),
               {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_M)}, &TForm1::MultiplySelection);
    SetToAction = action(QStringLiteral("Set to\u2026"),
                         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)}, &TForm1::SetSelection);
    InterpolateAction =
        action(QStringLiteral("Interpolate"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I)},
               &TForm1::InterpolateSelection);
    ColourByValueAction = action(QStringLiteral("Colour by value"),
                                 {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H)}, nullptr);
    ColourByValueAction->setCheckable(true);
    LiveGraphAction = action(QStringLiteral("Live graph"), {QKeySequence(Qt::CTRL | Qt::Key_G)},
                             &TForm1::ShowLiveGraph);
    BackupsAction = action(QStringLiteral("Backups\u2026"), {QKeySequence(Qt::CTRL | Qt::Key_B)},
                           &TForm1::ShowBackups);
    // Off at the first start, so that "Send" stays as it is; remembered between starts.
    PreviewAction = action(QStringLiteral("Show changes before Send"), {}, nullptr);
    PreviewAction->setCheckable(true);
    PreviewAction->setChecked(
        QSettings().value(QStringLiteral("previewBeforeSend"), false).toBool());
    connection_->SetPreviewBeforeSend(PreviewAction->isChecked());
    connect(PreviewAction, &QAction::toggled, this, [this](bool on) {
        connection_->SetPreviewBeforeSend(on);
        QSettings().setValue(QStringLiteral("previewBeforeSend"), on);
    });
    connect(ColourByValueAction, &QAction::toggled, this, &TForm1::ColourByValue);
    QUndoStack& stack = history_->Stack();
    connect(UndoAction, &QAction::triggered, &stack, &QUndoStack::undo);
    connect(RedoAction, &QAction::triggered, &stack, &QUndoStack::redo);
    UndoAction->setEnabled(false);
    RedoAction->setEnabled(false);
    connect(&stack, &QUndoStack::canUndoChanged, UndoAction, &QAction::setEnabled);
    connect(&stack, &QUndoStack::canRedoChanged, RedoAction, &QAction::setEnabled);
}

void TForm1::WireTableView(TStringGrid* grid) {
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid, &QWidget::customContextMenuRequested, this, [this, grid](const QPoint& at) {
        TableMenu(grid)->popup(grid->viewport()->mapToGlobal(at));
    });
}

QMenu* TForm1::TableMenu(TStringGrid* grid) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(UndoAction);
    menu->addAction(RedoAction);
    menu->addSeparator();
    menu->addAction(CompareAction);
    menu->addAction(ClearMarksAction);
    menu->addSeparator();
    menu->addAction(CopyRangeAction);
    menu->addAction(PasteRangeAction);
    menu->addSeparator();
    menu->addAction(AddAction);
    menu->addAction(MultiplyAction);
    menu->addAction(SetToAction);
    menu->addAction(InterpolateAction);
    menu->addSeparator();
    menu->addAction(ColourByValueAction);
    menu->addSeparator();
    menu->addAction(LiveGraphAction);
    menu->addAction(PreviewAction);
    menu->addAction(BackupsAction);
    const bool editable = EditableTable(grid) != nullptr && grid->isEnabled();
    for (QAction* item :
         {PasteRangeAction, AddAction, MultiplyAction, SetToAction, InterpolateAction}) {
        item->setEnabled(editable);
    }
    menuGrid_ = grid;
    // The actions run after the menu has closed; the table they act on is forgotten later.
    connect(menu, &QMenu::aboutToHide, this, [this] {
        QTimer::singleShot(0, this, [this] {
            menuGrid_ = nullptr;
            for (QAction* item :
                 {PasteRangeAction, AddAction, MultiplyAction, SetToAction, InterpolateAction}) {
                item->setEnabled(true);
            }
        });
    });
    return menu;
}

TStringGrid* TForm1::FocusedGrid() const {
    for (QWidget* w = QApplication::focusWidget(); w != nullptr; w = w->parentWidget()) {
        if (auto* grid = qobject_cast<TStringGrid*>(w)) return grid;
    }
    return nullptr;
}

TableText* TForm1::EditableTable(const TStringGrid* grid) const {
    if (grid == nullptr) return nullptr;
    if (grid == namedTables_[static_cast<size_t>(Grid::StrGridConfig)]->View())
        return namedTables_[static_cast<size_t>(Grid::StrGridConfig)];
    for (int program = 1; program <= 9; ++program) {
        for (TableText* table : programTables_[program]) {
            if (table->View() == grid) return table;
        }
    }
    return nullptr;
}

void TForm1::EndDownloadStep() {
    if (!downloadBefore_) return;
    const EditHistory::Snapshot before = std::move(*downloadBefore_);
    downloadBefore_.reset();
    history_->Push(downloadStepName_, before);
}

TStringGrid* TForm1::ActionGrid() const {
    return menuGrid_ != nullptr ? menuGrid_ : FocusedGrid();
}

bool TForm1::SelectedBlock(const TStringGrid* grid, int& col0, int& row0, int& col1, int& row1) {
    col0 = col1 = grid->currentColumn();
    row0 = row1 = grid->currentRow();
    const QItemSelection selection = grid->selectionModel()->selection();
    if (!selection.isEmpty()) {
        col0 = row0 = INT_MAX;
        col1 = row1 = -1;
        for (const QItemSelectionRange& range : selection) {
            col0 = std::min(col0, range.left());
            row0 = std::min(row0, range.top());
            col1 = std::max(col1, range.right());
            row1 = std::max(row1, range.bottom());
        }
    }
    return col0 >= 0 && row0 >= 0;
}

void TForm1::CopyRange() {
    TStringGrid* grid = ActionGrid();
    if (grid == nullptr) return;
    Guarded([&] {
        int col0 = 0, row0 = 0, col1 = 0, row1 = 0;
        if (!SelectedBlock(grid, col0, row0, col1, row1)) return;
        QGuiApplication::clipboard()->setText(
            QString::fromStdString(RangeText(*grid, col0, row0, col1, row1)));
    });
}

void TForm1::PasteRange() {
    TStringGrid* grid = ActionGrid();
    TableText* table = EditableTable(grid);
    if (table == nullptr || !grid->isEnabled()) return;
    Guarded([&] {
        const int col = grid->currentColumn();
        const int row = grid->currentRow();
        if (col < 0 || row < 0) return;
        const RangeBlock block = SplitRangeText(QGuiApplication::clipboard()->text().toStdString());
        const ValueRange range = table == &GridByName(Grid::StrGridConfig)
                                     ? ConfigRange(vars_.Edition())
                                     : kMapValueRange;
        history_->Record("Paste range", [&] { ::PasteRange(*table, col, row, block, range); });
        RefreshCharts(*this);
    });
}

void TForm1::ClearMarks() {
    comparedName_.clear();
    for (int program = 1; program <= 9; ++program) {
        for (TableText* table : programTables_[program]) table->Model().ClearMarks();
    }
    for (TableText* table : namedTables_) table->Model().ClearMarks();
}

void TForm1::CompareWithFile() {
    const QString path = [&] {
        QString chosen;
        Guarded([&] { chosen = ChooseFile(FileDialog(false)); });
        return chosen;
    }();
    if (!path.isEmpty()) CompareWithPath(path);
}

void TForm1::ShowBackups() {
    const std::vector<BackupStore::Entry> backups = BackupStore::List();
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("Backups"));
    dialog.setWindowTitle(QStringLiteral("Backups"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* where = new QLabel(
        backups.empty() ? QStringLiteral("No backups yet in %1").arg(BackupStore::Folder())
                        : QStringLiteral("Backups written before a send, newest first, in %1")
                              .arg(BackupStore::Folder()),
        &dialog);
    where->setWordWrap(true);
    layout->addWidget(where);
    auto* list = new QTreeWidget(&dialog);
    list->setObjectName(QStringLiteral("BackupList"));
    list->setHeaderLabels(
        {QStringLiteral("Box"), QStringLiteral("Written"), QStringLiteral("Edition")});
    list->setRootIsDecorated(false);
    list->setMinimumSize(480, 260);
    for (const BackupStore::Entry& entry : backups) {
        auto* item = new QTreeWidgetItem(
            list, {entry.serial, entry.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                   QStringLiteral("%1 channels").arg(QLatin1Char(entry.edition))});
        item->setData(0, Qt::UserRole, entry.path);
    }
    if (!backups.empty()) list->setCurrentItem(list->topLevelItem(0));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(&dialog);
    QPushButton* compare =
        buttons->addButton(QStringLiteral("Compare"), QDialogButtonBox::ActionRole);
    QPushButton* open = buttons->addButton(QStringLiteral("Open"), QDialogButtonBox::ActionRole);
    QPushButton* folder =
        buttons->addButton(QStringLiteral("Show in folder"), QDialogButtonBox::ActionRole);
    buttons->addButton(QDialogButtonBox::Close);
    for (QPushButton* button : {compare, open}) button->setEnabled(!backups.empty());
    layout->addWidget(buttons);
    QString chosen;
    QPushButton* action = nullptr;
    for (QPushButton* button : {compare, open}) {
        connect(button, &QPushButton::clicked, &dialog, [&, button] {
            if (QTreeWidgetItem* item = list->currentItem())
                chosen = item->data(0, Qt::UserRole).toString();
            action = button;
            dialog.accept();
        });
    }
    connect(list, &QTreeWidget::itemDoubleClicked, open, &QPushButton::click);
    connect(folder, &QPushButton::clicked, &dialog, [] {
        QDir().mkpath(BackupStore::Folder());
        if (UrlOpener()) UrlOpener()(QUrl::fromLocalFile(BackupStore::Folder()));
    });
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted || chosen.isEmpty()) return;
    if (action == compare) {
        CompareWithPath(chosen);
    } else {
        Guarded([&] { OpenTuningFile(chosen); });
    }
}

void TForm1::CompareWithPath(const QString& path) {
    Guarded([&] {
        const std::vector<FileDifference> cells =
            CompareWithTuningFile(*this, vars_.Edition(), path.toStdString(), true);
        ClearMarks();
        comparedName_ = QFileInfo(path).fileName();
        for (const FileDifference& cell : cells) {
            TableText& table = cell.program == 0 ? GridByName(Grid::StrGridConfig)
                                                 : ProgramGrid(cell.program, cell.table);
            if (table.Model().IsFixed(cell.col, cell.row)) continue;
            const QString fileText = QString::fromStdString(cell.fileText);
            table.Model().Compare(cell.col, cell.row, fileText,
                                  QStringLiteral("In %1: %2").arg(comparedName_, fileText));
        }
        ShowComparison();
    });
}

void TForm1::ShowComparison() {
    if (comparedName_.isEmpty()) return;
    int differences = 0;
    for (const TableText* table : StoredTables())
        differences += table->Model().CompareDifferences();
    StatusBar1->showMessage(
        differences == 0 ? QStringLiteral("No differences from %1").arg(comparedName_)
        : differences == 1
            ? QStringLiteral("1 value differs from %1").arg(comparedName_)
            : QStringLiteral("%1 values differ from %2").arg(differences).arg(comparedName_));
}

void TForm1::SetNumberAsker(NumberAsker asker) {
    Asker() = std::move(asker);
}

std::optional<TForm1::MathTarget> TForm1::TakeMathTarget() const {
    TStringGrid* grid = ActionGrid();
    TableText* table = EditableTable(grid);
    if (table == nullptr || !grid->isEnabled()) return std::nullopt;
    MathTarget target{table, {}};
    if (!SelectedBlock(grid, target.block.col0, target.block.row0, target.block.col1,
                       target.block.row1))
        return std::nullopt;
    return target;
}

void TForm1::SelectionMath(
    const MathTarget& target, const QString& name,
    const std::function<MathOutcome(TextGrid&, CellBlock, ValueRange, const CellNamer&)>& math) {
    TableText* table = target.table;
    Guarded([&] {
        const bool config = table == &GridByName(Grid::StrGridConfig);
        const ValueRange range = config ? ConfigRange(vars_.Edition()) : kMapValueRange;
        int program = 0;
        int slot = 0;
        for (int n = 1; n <= 9; ++n) {
            for (int t = 0; t < 4; ++t) {
                if (programTables_[n][t] == table) program = n, slot = t;
            }
        }
        const CellNamer namer = [&](int col, int row) {
            if (config) return "Service Configuration column " + std::to_string(col + 1);
            return ProgramCellName(program, static_cast<ProgramTable>(slot), *table, col, row);
        };
        MathOutcome outcome;
        history_->Record(name, [&] { outcome = math(*table, target.block, range, namer); });
        RefreshCharts(*this);
        if (outcome.limited > 0) {
            StatusBar1->showMessage(QStringLiteral("%1: %2 %3 limited to what the box stores; %4")
                                        .arg(name)
                                        .arg(outcome.limited)
                                        .arg(outcome.limited == 1 ? QStringLiteral("value was")
                                                                  : QStringLiteral("values were"))
                                        .arg(QString::fromStdString(outcome.firstLimited)));
        } else {
            StatusBar1->showMessage(QStringLiteral("%1: %2 %3 changed")
                                        .arg(name)
                                        .arg(outcome.changed)
                                        .arg(outcome.changed == 1 ? QStringLiteral("value")
                                                                  : QStringLiteral("values")));
        }
    });
}

namespace {
// Asks for the operand and applies one of the block maths with it.
std::function<MathOutcome(TextGrid&, CellBlock, ValueRange, const CellNamer&)> WithOperand(
    BlockMath math, double operand) {
    return
        [math, operand](TextGrid& grid, CellBlock block, ValueRange range, const CellNamer& name) {
            return ApplyBlockMath(grid, block, math, operand, range, name);
        };
}
}  // namespace

void TForm1::AskAndApplyMath(const QString& name, const QString& label, BlockMath math) {
    // The table and its selection are taken before the dialog opens: once it closes, the
    // focus comes back to the table only when the window manager says so, and the menu the
    // action came from has gone.
    const std::optional<MathTarget> target = TakeMathTarget();
    if (!target) return;
    const std::optional<double> operand = Asker()(name, label);
    if (operand) SelectionMath(*target, name, WithOperand(math, *operand));
}

void TForm1::AddToSelection() {
    AskAndApplyMath(QStringLiteral("Add"), QStringLiteral("Add to each selected value:"),
                    BlockMath::Add);
}

void TForm1::MultiplySelection() {
    AskAndApplyMath(QStringLiteral("Multiply by %"),
                    QStringLiteral("Multiply each selected value by (%):"),
                    BlockMath::MultiplyPercent);
}

void TForm1::SetSelection() {
    AskAndApplyMath(QStringLiteral("Set to"), QStringLiteral("Set each selected value to:"),
                    BlockMath::Set);
}

void TForm1::InterpolateSelection() {
    if (const std::optional<MathTarget> target = TakeMathTarget())
        SelectionMath(*target, QStringLiteral("Interpolate"), &InterpolateBlock);
}

void TForm1::ColourByValue(bool on) {
    for (int program = 1; program <= 9; ++program) {
        for (TableText* table : programTables_[program]) table->Model().SetColourByValue(on);
    }
}
