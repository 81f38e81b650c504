#pragma once
// The main window: every control of the tool, its start-up state and its handlers.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "Connection.h"
#include "Controls.h"
#include "EditHistory.h"
#include "Link.h"
#include "Recovery.h"
#include "SelectionMath.h"
#include "TApdComPort.h"
#include "Variables.h"
#include "Widgets.h"

class TForm1;
class LiveGraph;

// A table's view on a page whose views are made when the page is first shown. Reaching
// the view through this pointer makes the page's views now.
class PageGrid {
  public:
    PageGrid() = default;
    PageGrid(TForm1* form, int page, TableText* table) : form_(form), page_(page), table_(table) {}
    TStringGrid* get() const;
    TStringGrid* operator->() const { return get(); }
    TStringGrid& operator*() const { return *get(); }
    operator TStringGrid*() const { return get(); }  // NOLINT: used like the view itself

  private:
    TForm1* form_ = nullptr;
    int page_ = 0;
    TableText* table_ = nullptr;
};

class TForm1 : public QMainWindow, public FormControls {
    Q_OBJECT
  public:
    static constexpr const char* kCaption = "Corvane Zel V1.32b";
    static constexpr const char* kWebsite = "https://zel-tuning.example/";
    static constexpr int kContentWidth = 1110;
    static constexpr int kContentHeight = 725;
    // The layout's top bar, above the tables: the connection's buttons, the live labels,
    // "Dyno log" and the program buttons. Windows of the tool's own keep off it.
    static constexpr int kTopBarHeight = 186;

    explicit TForm1(QWidget* owner = nullptr);
    ~TForm1() override;

    Variables& Vars() { return vars_; }
    Connection& BoxConnection() { return *connection_; }

    // FormControls
    // The tables' texts, whether or not their views have been made.
    TableText& ProgramGrid(int program, ProgramTable table) override;
    TableText& GridByName(Grid grid) override;
    Control& ControlByName(Ctl control) override;
    ChartSeries& Series(int chart) override;
    int PageIndex() const override;
    void SetPageIndex(int index) override;

    // The view of a program's table, made now if its page has not been shown yet.
    TStringGrid* ProgramGridWidget(int program, ProgramTable table);
    // Whether the views of a page (0: "Service", n: program n) have been made.
    bool PageViewsMade(int page) const { return pageViewsMade_.at(static_cast<size_t>(page)); }
    // Makes the views of a page unless they exist; the page does so when first shown.
    void MakePageViews(int page);

    // What a double click on the logo does with the website address; tests replace it.
    static void SetUrlOpener(std::function<void(const QUrl&)> opener);

    static constexpr const char* kTuningFileFilter = "Binnary files (*.bin)";
    // Shows the open or save dialog and returns the chosen path, empty when cancelled;
    // tests replace it.
    using FileChooser = std::function<QString(QFileDialog* dialog)>;
    static void SetFileChooser(FileChooser chooser);
    // The open (false) or save (true) dialog.
    QFileDialog* FileDialog(bool save);

    // Ports listed before the system's own, such as a simulated box's pseudo-terminal.
    static void SetExtraPorts(const QStringList& ports);

    // Top-level controls, in creation order.
    QToolButton* ButtonConnect;
    TShape* Shape1;
    QLabel* LabelSerial;
    QLabel* LabelConnPort;
    QToolButton* ButtonSaveFile;
    QToolButton* ButtonOpenFile;
    QLabel* LabelCopiedProg;
    TShape* Shape2;
    QLabel* LabelRPM;
    QLabel* LabelPress1;
    QLabel* LabelPress2;
    QLabel* Label1;
    QLabel* LabelPress3;
    TImage* Image1;
    TComboBox* ComboBoxComPorts;
    QPushButton* ButtonDownload;
    QPushButton* ButtonSend;
    QPushButton* ButtonPasteProg;
    QPushButton* ButtonCopyProg;
    QPushButton* ButtonDynoLog;
    QTabWidget* PageControl1;
    TStringGrid* StrGridDynoLog;
    std::array<QPushButton*, 10> ButtonP{};  // ButtonP0 .. ButtonP9
    QPushButton* ButtonResetLog;
    QPushButton* ButtonSetRPM;
    QGroupBox* GroupBox1;
    QPushButton* ButtonCopyPaste;
    TChart* Chart1;
    TChart* Chart2;
    TChart* Chart3;
    QListWidget* FileListBox1;
    QRadioButton* RadioButtP0;
    QRadioButton* RadioButtP1toP9;
    QFileDialog* SaveDialog1 = nullptr;  // made when first needed (FileDialog)
    QFileDialog* OpenDialog1 = nullptr;
    TApdComPort* ApdComPort1;  // owned by the connection
    QStatusBar* StatusBar1;    // below the fixed layout: the connection's state
    QLabel* BoxLabel;          // the status bar's right part: the box behind the port
    QLabel* TablesLabel;       // ... and where the tables stand

    // Inside GroupBox1.
    QCheckBox* CheckBoxCopySend;
    QRadioButton* RadioButtCH1;
    QRadioButton* RadioButtCH2;
    QRadioButton* RadioButtCH3;
    QCheckBox* CheckBoxCH2;
    QCheckBox* CheckBoxCH3;
    QCheckBox* CheckBoxCH1;

    // Pages.
    QWidget* TabSheetService;
    std::array<QWidget*, 10> TabSheetP{};  // index 1..9

    // The "Service" page.
    QLabel* NewserialLabel;
    TShape* Shape3;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* LabSENTchs;
    QLabel* LabSENTsd;
    QLineEdit* EditNewSerial;
    PageGrid StrGridConfNam;
    PageGrid StrGridConfig;
    QComboBox* ComboBoxPedalRes;
    QSpinBox* NumBoxStartTime;
    PageGrid StrGridSDnames;
    PageGrid StrGridSDdata;
    QLabel* StaticText1;

    // Undo and redo of the tables' changes, and the tables' context menu.
    EditHistory& History() { return *history_; }
    QAction* UndoAction;
    QAction* RedoAction;
    QAction* CompareAction;
    QAction* ClearMarksAction;
    QAction* CopyRangeAction;
    QAction* PasteRangeAction;
    QAction* AddAction;
    QAction* MultiplyAction;
    QAction* SetToAction;
    QAction* InterpolateAction;
    QAction* ColourByValueAction;  // checkable, off at start
    QAction* LiveGraphAction;      // Ctrl+G
    QAction* PreviewAction;        // "Show changes before Send": checkable, remembered
    QAction* BackupsAction;        // Ctrl+B

    // The live graph's window, made when first shown (nullptr until then).
    LiveGraph* Graph() const { return graph_; }
    // Shows the live graph beside the window.
    void ShowLiveGraph();
    // Runs the open or save dialog as the file chooser has it (tests replace the chooser).
    static QString RunFileChooser(QFileDialog* dialog);

    // Asks for the number of "Add…", "Multiply by %…" and "Set to…"; empty when cancelled.
    // Tests replace it.
    using NumberAsker =
        std::function<std::optional<double>(const QString& title, const QString& label)>;
    static void SetNumberAsker(NumberAsker asker);
    // The context menu of a table's view, as its right button opens it.
    QMenu* TableMenu(TStringGrid* grid);

    QPushButton* ButtonP9() const { return ButtonP[9]; }
    QWidget* Content() const { return content_; }
    TFormScrollArea* ScrollArea() const { return scroll_; }

  public slots:
    void PageControl1Change();
    void Chart1DblClick();
    void Chart2DblClick();
    void Chart3DblClick();
    void Image1DblClick();
    void FormMouseWheelDown();
    void FormMouseWheelUp();
    void ButtonOpenFileClick();
    void FileListBox1DblClick();
    void ButtonSaveFileClick();
    void ButtonSetRPMClick();
    void ButtonCopyProgClick();
    void ButtonPasteProgClick();
    void StringGridKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void StrGridConfigMouseDown();
    void ComboBoxComPortsDropDown();
    void ComboBoxComPortsSelect();
    void ButtonConnectClick();
    void ButtonDownloadClick();
    void ButtonSendClick();
    void ButtonP0Click() { ButtonPClick(0); }
    void ButtonP1Click() { ButtonPClick(1); }
    void ButtonP2Click() { ButtonPClick(2); }
    void ButtonP3Click() { ButtonPClick(3); }
    void ButtonP4Click() { ButtonPClick(4); }
    void ButtonP5Click() { ButtonPClick(5); }
    void ButtonP6Click() { ButtonPClick(6); }
    void ButtonP7Click() { ButtonPClick(7); }
    void ButtonP8Click() { ButtonPClick(8); }
    void ButtonP9Click() { ButtonPClick(9); }
    void ButtonDynoLogClick();
    void ButtonCopyPasteClick();
    void ButtonResetLogClick();
    void RadioButtP0Click();
    void RadioButtP1toP9Click();
    void CopyRange();
    void PasteRange();
    void CompareWithFile();
    void ClearMarks();
    void AddToSelection();
    void MultiplySelection();
    void SetSelection();
    void InterpolateSelection();
    void ColourByValue(bool on);
    // The backups of the data folder, newest first: compare one, open it, show the folder.
    void ShowBackups();
    void CompareWithPath(const QString& path);

  public:
    // Values changed since the tables came, and not sent.
    int TablesChanges() const;
    // There are changes that are neither sent nor saved.
    bool UnsavedChanges() const;
    // Tells the session the count of changes, once the change in progress is whole.
    void NoteChanges();
    // The recovery file (off unless the program turns it on, so tests leave none): kept while
    // there are changes neither sent nor saved, at most every 2 s.
    static void SetRecoveryEnabled(bool on);
    static constexpr qint64 kRecoveryMs = 2000;
    // At start: offers back the tables of a run that ended without a clean exit.
    void OfferRecovery();
    void Restore(const RecoveryState& state);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Asks first when changes are neither sent nor saved.
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateTables();
    void CreateControls();
    // "Open file" and the file list's double click: one step of the history.
    void OpenTuningFile(const QString& path);
    void CreateServicePage();
    void CreateProgramPage(int program);
    void WireHandlers();
    QString ChooseFile(QFileDialog* dialog);
    void ButtonPClick(int n);
    // "Send", the read-back one undo step; `consent` says what the user agreed to already.
    void StartSend(SendConsent consent);
    // The list of what a send would change, with "Send" (the default) and "Cancel".
    void ShowSendPreview(const QStringList& changes, const QString& boxSerial, SendConsent consent);
    void AskToSendToOtherBox(const QString& tablesSerial, const QString& boxSerial);
    void ShowPortList(const QStringList& ports);
    void FillPortListInBackground();
    void FinishPortScan();
    // Draws the link's controls and the status bar from the session's state.
    void ShowSession();
    // The tables and settings as they are now are what came (from a box or a file): the
    // changes count from here.
    void TakeBaseline(const TablesOrigin& origin);
    // The serial number field, the start time and the pedal response, as texts.
    std::array<QString, 3> Settings() const;
    // The tables whose values a send writes and a tuning file holds: the nine programs' and
    // the configuration row.
    std::vector<TableText*> StoredTables() const;
    QByteArray TextsDigest() const;
    std::optional<std::array<QString, 3>> settingsBaseline_;
    QByteArray savedTexts_;  // the digest of the texts last saved; empty when none since they came
    bool changesDue_ = false;
    void KeepForRecovery();
    bool recoveryDecided_ = false;  // an earlier run's file has been offered, or there is none
    void WriteRecovery();
    QDateTime lastChange_;
    QElapsedTimer recoveryWritten_;
    QTimer recoveryDue_;
    QString shownStatus_;
    void ConnectionLost(const QString& reason);
    void CreateHistory();
    void WireTableView(TStringGrid* grid);
    // The table view that has the focus (or holds the focused cell editor), if any.
    TStringGrid* FocusedGrid() const;
    // The history's table of a view, or null for a table the history does not keep.
    TableText* EditableTable(const TStringGrid* grid) const;
    void EndDownloadStep();
    // Says in the status bar how many values differ from the compared file.
    void ShowComparison();
    QString comparedName_;  // the file the tables are held against, empty for none
    bool comparisonShowDue_ = false;
    // The table an action works on: the one whose menu is open, else the focused one.
    TStringGrid* ActionGrid() const;
    // The selected cells of a view (its current cell when nothing is selected); false when
    // it has neither.
    static bool SelectedBlock(const TStringGrid* grid, int& col0, int& row0, int& col1, int& row1);
    // The table and the cells a maths action works on.
    struct MathTarget {
        TableText* table;
        CellBlock block;
    };
    std::optional<MathTarget> TakeMathTarget() const;
    // Runs one of the maths on the target's cells as one undoable step.
    void SelectionMath(
        const MathTarget& target, const QString& name,
        const std::function<MathOutcome(TextGrid&, CellBlock, ValueRange, const CellNamer&)>& math);
    // Takes the target, asks for the operand, then applies `math` with it.
    void AskAndApplyMath(const QString& name, const QString& label, BlockMath math);

    Variables vars_;
    Connection* connection_ = nullptr;
    QFutureWatcher<QStringList>* portScan_ = nullptr;
    QWidget* content_ = nullptr;
    TFormScrollArea* scroll_ = nullptr;
    std::vector<std::unique_ptr<TableText>> ownedTables_;        // every table below
    std::array<std::array<TableText*, 4>, 10> programTables_{};  // [program][table]
    std::array<TableText*, 5> namedTables_{};                    // by Grid
    std::array<bool, 10> pageViewsMade_{};                       // [page]
    EditHistory* history_ = nullptr;
    LiveGraph* graph_ = nullptr;
    std::optional<EditHistory::Snapshot> downloadBefore_;  // the tables when a download began
    QString downloadStepName_;                             // its step's name: a download or send
    // Shows the page of a failed verify's first differing cell, the cell current.
    void ShowFirstDifference();
    TStringGrid* menuGrid_ = nullptr;  // the table a menu was opened on
    std::map<Ctl, WidgetControl> controls_;
};

inline TStringGrid* PageGrid::get() const {
    if (table_->View() == nullptr) form_->MakePageViews(page_);
    return table_->View();
}

// The one main window.
extern TForm1* Form1;
