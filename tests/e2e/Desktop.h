#pragma once
// The end-to-end rows' desktop. The real window runs on the process's main thread inside
// the Qt event loop, with the real message boxes, input dialogs and file dialogs. Each row
// runs on a second thread, the user: it sends input through the X server as a person's
// keyboard and pointer would (xdotool, XTest), and reads the window by calling into the
// main thread. Those calls are answered inside a modal dialog's own loop too, which is what
// lets a row read a real message box and answer it with a key.
//
// Every function here is called from the user's thread.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "BoxSimulator.h"
#include "Unit1.h"

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace desktop {

// How long a row waits for the window to take a call before it counts as hanging.
constexpr int kAnswerMs = 10000;

// Whether the window's application runs: main() starts it only on the display that
// scripts/e2e.sh made (BOXTOOL_E2E_DISPLAY).
bool Running();
// For main(): the application is up (on the main thread, before the rows start).
void StartOnMainThread();
// The row that runs now, "Suite.Name", and the last input it sent, for the report of a
// crash.
const char* RowName();
const char* LastInput();

// Runs `work` on the window's thread and waits until it has run. False when the thread did
// not take it within `timeoutMs`; the work is then dropped and the row fails.
bool OnMain(const std::function<void()>& work, int timeoutMs = kAnswerMs);

// What `read` returns on the window's thread (a default value, and a failure, when the
// window does not answer).
template <typename Read>
auto Get(Read read) -> std::invoke_result_t<Read> {
    std::invoke_result_t<Read> value{};
    if (!OnMain([&] { value = read(); })) ADD_FAILURE() << "the window did not answer";
    return value;
}

// Polls `condition` on the window's thread every 20 ms until it holds; false after
// `timeoutMs`.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

// ---- Input, through the X server ----

// Runs xdotool; a failure to run it fails the row. Returns its standard output.
QString XDoTool(const QStringList& args);
// Returns once the window's thread has taken every input event sent so far: the X server
// gets a marker after the input, and the window's thread must have seen the marker arrive.
void SyncInput();
void MoveTo(QPoint global);
// `count` clicks of `button` (1 left, 2 middle, 3 right) at a point of the screen.
void Click(QPoint global, int button = 1, int count = 1);
// Types text as keystrokes into whatever has the keyboard focus.
void Type(const QString& text);
// Presses and releases keys by xdotool's names: "Return", "ctrl+z", "ctrl+shift+a".
void Key(const QString& keys);
void KeyDown(const QString& key);
void KeyUp(const QString& key);
// Wheel notches over a point: positive away from the user (up), negative towards.
void Wheel(QPoint global, int notches);

// ---- Places on the screen ----

// The centre of a widget, or a point of it, in screen coordinates.
QPoint Centre(QWidget* widget);
QPoint At(QWidget* widget, QPoint local);
// The centre of a table cell.
QPoint CellCentre(TStringGrid* grid, int col, int row);

// ---- What the window shows ----

// The modal dialog on top: its kind ("QMessageBox", "QInputDialog", "QFileDialog"), object
// name, title and text (a message box's text, an input dialog's label).
struct Dialog {
    QString kind;
    QString name;
    QString title;
    QString text;
};
void PrintTo(const Dialog& dialog, std::ostream* os);
// The modal dialog once it is shown and has the keyboard focus from the window manager.
std::optional<Dialog> WaitForDialog(int timeoutMs = 10000);
// True once no modal dialog is open any more.
bool WaitForNoDialog(int timeoutMs = 10000);
// The object name of the widget with the keyboard focus (empty without one), and of its
// nearest named ancestor, as "name" or "parent/name".
QString FocusName();
// The text of the line edit that has the focus: a dialog's entry field, a cell's editor.
QString FieldText();
// Whether the window's thread takes a call within `timeoutMs`.
bool Answering(int timeoutMs = 5000);
// A picture of the whole screen.
bool SaveScreen(const QString& path);
// Closes popups and rejects modal dialogs until only the window's own loop runs.
bool CloseDialogs();

// Picks an item of the open popup menu by its text: with the Down key as often as the
// menu's selectable items before it demand and Return, or by a click on its place. False,
// and a failure, when no menu opens or the item is not an enabled one of it.
bool ChooseFromMenu(const QString& item, bool byKeys);
// Answers the file dialog of that object name once it is on top: the path typed into its
// name field, then Return. False, and a failure, when another dialog or none came, or it
// did not close.
bool AnswerFileDialog(const QString& name, const QString& path);

// A file's bytes; empty when it cannot be read.
QByteArray ReadFile(const QString& path);

// The text a program table shows for one of its values in an image of the 3-channel layout.
std::string ImageValue(const std::vector<uint8_t>& image, int program, ProgramTable table, int col,
                       int row);
// Puts a value of a program table into an image of the 3-channel layout.
void SetImageValue(std::vector<uint8_t>& image, int program, ProgramTable table, int col, int row,
                   int16_t value);
// A 3-channel tuning file as the tool writes it: the image, then the 16 configuration
// values as big-endian words.
QByteArray TuningFile(const std::vector<uint8_t>& image, const std::array<uint16_t, 16>& config);

// The main window with a simulated box on a pseudo-terminal; every row starts with a fresh
// window in front, activated by the window manager.
class DesktopTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // The simulated box: 3-channel, paced at 115200 baud.
    virtual BoxSimOptions BoxOptions() const { return {}; }

    // Types the box's port into the port list's field and clicks "Connect".
    bool ConnectByTyping();
    // Clicks "Download" and waits for the whole chain and its last answer.
    bool DownloadByClick();
    // Waits until the box has `count` commands and the window waits for no answer.
    bool WaitForChain(size_t count, int timeoutMs = 10000);
    // Shows a page (0 "Service", n program n) by a click on its tab.
    bool ShowPage(int page);
    // Makes a cell current with a click; true once it is.
    bool ClickCell(int program, ProgramTable table, int col, int row);
    // Selects a block of a program table: a click on one corner, a Shift+click on the other.
    bool SelectBlock(int program, ProgramTable table, int col0, int row0, int col1, int row1);
    // Types a text into a program table's cell and commits it with Return.
    bool TypeIntoCell(int program, ProgramTable table, int col, int row, const QString& text);
    // Opens a table's context menu with a right click on one of its cells.
    bool OpenTableMenu(TStringGrid* grid, int col, int row);

    TStringGrid* Grid(int program, ProgramTable table);
    std::string Cell(int program, ProgramTable table, int col, int row);
    QString Mark(int program, ProgramTable table, int col, int row);
    // A role of a program table's cell, as the view asks for it.
    QVariant CellRole(int program, ProgramTable table, int col, int row, int role);
    int Page();
    QString Status();
    // The value the box holds for a program table's cell, as the table would show it.
    std::string BoxValue(int program, ProgramTable table, int col, int row) const;
    // The codes of the commands the box has received, in order.
    std::vector<uint8_t> Codes() const;
    QString Path(const QString& name) const { return folder_->filePath(name); }

    TForm1* form = nullptr;
    std::unique_ptr<BoxSimulator> box;
    QString port;

  private:
    std::unique_ptr<QTemporaryDir> folder_;
};

}  // namespace desktop
