#include "Desktop.h"

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStyle>
#include <QTabBar>
#include <QThread>
#include <QWindow>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace desktop {

namespace {

using namespace std::chrono_literals;

std::atomic<bool> running{false};
char rowName[256] = "";
char lastInput[256] = "";

// The input barrier's marker: a property of a window of our own that nobody sees, changed
// on the window thread's own connection to the X server. The server sends the change's
// notice to that connection after every event it generated before, so once the window's
// thread has seen the notice, it has taken the input that came before it.
class InputMarker : public QAbstractNativeEventFilter {
  public:
    InputMarker() {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        connection_ = x11->connection();
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
        window_ = xcb_generate_id(connection_);
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, screen->root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK,
                          &mask);
        static const char kName[] = "_BOXTOOL_E2E_INPUT_MARK";
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, sizeof kName - 1, kName), nullptr);
        atom_ = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        qApp->installNativeEventFilter(this);
    }

    void Send() {
        ++sent_;
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, atom_, XCB_ATOM_INTEGER,
                            32, 1, &sent_);
        xcb_flush(connection_);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) != XCB_PROPERTY_NOTIFY) return false;
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->window == window_ && notify->atom == atom_) seen.fetch_add(1);
        return false;
    }

    std::atomic<uint32_t> seen{0};

  private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_atom_t atom_ = XCB_ATOM_NONE;
    uint32_t sent_ = 0;
};

InputMarker* marker = nullptr;
uint32_t marksSent = 0;  // the user's thread only
// Keys a row holds down: the X server keeps them down after the row, for the next one.
QStringList heldKeys;  // the user's thread only

struct Call {
    enum State { Pending, Running, Done, Dropped };
    std::mutex mutex;
    std::condition_variable changed;
    State state = Pending;
};

QString NameOf(const QWidget* widget) {
    return widget->objectName().isEmpty() ? QString::fromLatin1(widget->metaObject()->className())
                                          : widget->objectName();
}

}  // namespace

bool Running() {
    return running.load();
}

const char* RowName() {
    return rowName;
}

const char* LastInput() {
    return lastInput;
}

void StartOnMainThread() {
    marker = new InputMarker();
    running.store(true);
}

bool OnMain(const std::function<void()>& work, int timeoutMs) {
    if (!Running()) return false;
    auto call = std::make_shared<Call>();
    const std::function<void()>* job = &work;
    QMetaObject::invokeMethod(
        qApp,
        [call, job] {
            {
                std::lock_guard<std::mutex> lock(call->mutex);
                if (call->state == Call::Dropped) return;
                call->state = Call::Running;
            }
            try {
                (*job)();
            } catch (...) {
                ADD_FAILURE() << "a call on the window's thread threw";
            }
            std::lock_guard<std::mutex> lock(call->mutex);
            call->state = Call::Done;
            call->changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(call->mutex);
    if (call->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [&] { return call->state == Call::Done; })) {
        return true;
    }
    if (call->state == Call::Pending) {
        call->state = Call::Dropped;
        return false;
    }
    // Begun: `work` refers to the caller's frame, which must outlive it.
    call->changed.wait(lock, [&] { return call->state == Call::Done; });
    return true;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        bool holds = false;
        if (!OnMain([&] { holds = condition(); })) return false;
        if (holds) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
}

QString XDoTool(const QStringList& args) {
    std::snprintf(lastInput, sizeof lastInput, "xdotool %s", qPrintable(args.join(' ')));
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    const bool finished = process.waitForFinished(15000);
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << "xdotool " << args.join(' ').toStdString()
                      << " failed: " << process.readAllStandardError().toStdString()
                      << process.errorString().toStdString();
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

void SyncInput() {
    const uint32_t mark = ++marksSent;
    if (!OnMain([] { marker->Send(); })) {
        ADD_FAILURE() << "the window did not answer";
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (marker->seen.load() < mark) {
        if (std::chrono::steady_clock::now() >= deadline) {
            ADD_FAILURE() << "the window's thread did not take the input within 10 s";
            return;
        }
        std::this_thread::sleep_for(1ms);
    }
    // Qt hands the input it has read to the widgets on a later turn of its loop.
    OnMain([] {});
    OnMain([] {});
}

namespace {
// xdotool's --sync waits for the pointer to arrive, and forever when it is there already.
void PlacePointer(QPoint global) {
    const QStringList location = XDoTool({"getmouselocation", "--shell"}).split(QLatin1Char('\n'));
    if (location.contains(QStringLiteral("X=%1").arg(global.x())) &&
        location.contains(QStringLiteral("Y=%1").arg(global.y()))) {
        return;
    }
    XDoTool({"mousemove", "--sync", QString::number(global.x()), QString::number(global.y())});
}
}  // namespace

void MoveTo(QPoint global) {
    PlacePointer(global);
    SyncInput();
}

void Click(QPoint global, int button, int count) {
    PlacePointer(global);
    XDoTool(
        {"click", "--repeat", QString::number(count), "--delay", "80", QString::number(button)});
    SyncInput();
}

void Type(const QString& text) {
    XDoTool({"type", "--delay", "40", "--", text});
    SyncInput();
}

void Key(const QString& keys) {
    XDoTool({"key", "--delay", "40", keys});
    SyncInput();
}

void KeyDown(const QString& key) {
    heldKeys.append(key);
    XDoTool({"keydown", key});
    SyncInput();
}

void KeyUp(const QString& key) {
    heldKeys.removeAll(key);
    XDoTool({"keyup", key});
    SyncInput();
}

void Wheel(QPoint global, int notches) {
    MoveTo(global);
    if (notches == 0) return;
    // X's buttons 4 and 5 are the wheel's notches away from and towards the user.
    XDoTool({"click", "--repeat", QString::number(std::abs(notches)), "--delay", "60",
             notches > 0 ? "4" : "5"});
    SyncInput();
}

QPoint Centre(QWidget* widget) {
    return Get([&] { return widget->mapToGlobal(widget->rect().center()); });
}

QPoint At(QWidget* widget, QPoint local) {
    return Get([&] { return widget->mapToGlobal(local); });
}

QPoint CellCentre(TStringGrid* grid, int col, int row) {
    return Get([&] { return grid->viewport()->mapToGlobal(grid->CellRect(col, row).center()); });
}

void PrintTo(const Dialog& dialog, std::ostream* os) {
    *os << dialog.kind.toStdString() << " \"" << dialog.title.toStdString() << "\": \""
        << dialog.text.toStdString() << '"';
}

std::optional<Dialog> WaitForDialog(int timeoutMs) {
    std::optional<Dialog> seen;
    WaitUntil(
        [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || !modal->isVisible() || QApplication::activeWindow() != modal)
                return false;
            Dialog dialog{QString::fromLatin1(modal->metaObject()->className()),
                          modal->objectName(), modal->windowTitle(), QString()};
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                dialog.kind = QStringLiteral("QMessageBox");
                dialog.text = box->text();
            } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
                dialog.kind = QStringLiteral("QInputDialog");
                dialog.text = input->labelText();
            } else if (qobject_cast<QFileDialog*>(modal) != nullptr) {
                dialog.kind = QStringLiteral("QFileDialog");
            }
            seen = dialog;
            return true;
        },
        timeoutMs);
    return seen;
}

bool WaitForNoDialog(int timeoutMs) {
    return WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }, timeoutMs);
}

QString FocusName() {
    return Get([] {
        const QWidget* focus = QApplication::focusWidget();
        if (focus == nullptr) return QString();
        const QString own = NameOf(focus);
        if (!focus->objectName().isEmpty() && !own.startsWith(QLatin1String("qt_"))) return own;
        for (const QWidget* up = focus->parentWidget(); up != nullptr; up = up->parentWidget()) {
            if (!up->objectName().isEmpty() && !up->objectName().startsWith(QLatin1String("qt_")))
                return up->objectName() + QLatin1Char('/') + own;
        }
        return own;
    });
}

QString FieldText() {
    return Get([] {
        QWidget* focus = QApplication::focusWidget();
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(focus)) return spin->text();
        auto* field = qobject_cast<QLineEdit*>(focus);
        return field != nullptr ? field->text() : QString();
    });
}

bool Answering(int timeoutMs) {
    return OnMain([] {}, timeoutMs);
}

bool SaveScreen(const QString& path) {
    return Get([&] { return QGuiApplication::primaryScreen()->grabWindow(0).save(path); });
}

bool CloseDialogs() {
    return WaitUntil(
        [] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                popup->close();
                return false;
            }
            if (QWidget* modal = QApplication::activeModalWidget()) {
                if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                    dialog->reject();
                } else {
                    modal->close();
                }
                return false;
            }
            // A dialog's loop ends on its next turn: wait until only the application's runs.
            return QThread::currentThread()->loopLevel() == 1;
        },
        10000);
}

bool ChooseFromMenu(const QString& item, bool byKeys) {
    if (!WaitUntil([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); })) {
        ADD_FAILURE() << "no menu";
        return false;
    }
    QMenu* menu = Get([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); });
    int downs = 0;
    QPoint place;
    const bool found = Get([&] {
        const bool disabledSelectable =
            menu->style()->styleHint(QStyle::SH_Menu_AllowActiveAndDisabled, nullptr, menu);
        for (QAction* action : menu->actions()) {
            if (action->isSeparator() || !action->isVisible()) continue;
            if (action->isEnabled() || disabledSelectable) ++downs;
            if (action->text() == item) {
                place = menu->mapToGlobal(menu->actionGeometry(action).center());
                return action->isEnabled();
            }
        }
        return false;
    });
    if (!found) {
        ADD_FAILURE() << item.toStdString() << " is not an enabled item of the menu";
        return false;
    }
    if (byKeys) {
        for (int k = 0; k < downs; ++k) Key("Down");
        Key("Return");
    } else {
        Click(place);
    }
    return true;
}

bool AnswerFileDialog(const QString& name, const QString& path) {
    const std::optional<Dialog> dialog = WaitForDialog();
    if (!dialog || dialog->kind != QLatin1String("QFileDialog") || dialog->name != name) {
        ADD_FAILURE() << "no file dialog " << name.toStdString() << " but "
                      << (dialog ? testing::PrintToString(*dialog) : std::string("none"));
        return false;
    }
    Type(path);
    Key("Return");
    if (!WaitForNoDialog()) {
        ADD_FAILURE() << "the file dialog " << name.toStdString() << " stayed open";
        return false;
    }
    // The window manager gives the focus back to the window below on its own time; input
    // sent before would go nowhere.
    if (!WaitUntil([] { return QApplication::activeWindow() != nullptr; })) {
        ADD_FAILURE() << "no window was active again after the file dialog " << name.toStdString();
        return false;
    }
    return true;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void DesktopTest::SetUp() {
    if (!Running()) {
        GTEST_SKIP() << "needs the X display and window manager of scripts/e2e.sh "
                        "(BOXTOOL_E2E_DISPLAY is not set)";
    }
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::snprintf(rowName, sizeof rowName, "%s.%s", info->test_suite_name(), info->name());
    lastInput[0] = '\0';

    folder_ = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(folder_->isValid());
    box = std::make_unique<BoxSimulator>(BoxOptions());
    ASSERT_TRUE(box->Start()) << box->LastError();
    port = QString::fromStdString(box->PortPath());

    ASSERT_TRUE(OnMain([&] {
        // Backups of the box go to the row's folder; the window lists the tuning files of
        // the working folder.
        qputenv("XDG_DATA_HOME", folder_->path().toLocal8Bit());
        QDir::setCurrent(folder_->path());
        TForm1::SetExtraPorts({port});
        form = new TForm1();
        form->show();
    }));
    ASSERT_TRUE(WaitUntil([&] {
        return form->windowHandle() != nullptr && form->windowHandle()->isExposed();
    })) << "the window was never shown";
    const WId window = Get([&] { return form->winId(); });
    XDoTool({"windowactivate", "--sync", QString::number(window)});
    ASSERT_TRUE(WaitUntil([&] { return QApplication::activeWindow() == form; }))
        << "the window manager did not activate the window";
}

void DesktopTest::TearDown() {
    while (!heldKeys.isEmpty()) KeyUp(heldKeys.constLast());
    if (form != nullptr) {
        if (HasFailure()) {
            QString name = QString::fromLatin1(rowName);
            name.replace(QLatin1Char('/'), QLatin1Char('-'));
            const QString picture = QStringLiteral(ARTIFACT_DIR "/%1.png").arg(name);
            if (SaveScreen(picture))
                std::printf("screen at the failure: %s\n", qPrintable(picture));
        }
        EXPECT_TRUE(CloseDialogs()) << "a dialog or menu stayed open";
        OnMain([&] {
            delete form;
            form = nullptr;
            TForm1::SetExtraPorts({});
        });
    }
    if (box) box->Stop();
}

bool DesktopTest::ConnectByTyping() {
    QLineEdit* field = Get([&] { return form->ComboBoxComPorts->lineEdit(); });
    Click(Centre(field));
    Key(QStringLiteral("ctrl+a"));
    Type(port);
    if (!WaitUntil([&] {
            return form->ComboBoxComPorts->currentText() == port &&
                   form->ButtonConnect->isEnabled();
        })) {
        ADD_FAILURE() << "the port's name did not arrive in the list's field";
        return false;
    }
    Click(Centre(form->ButtonConnect));
    return WaitUntil(
        [&] { return form->ApdComPort1->IsOpen() && form->ButtonDownload->isEnabled(); });
}

bool DesktopTest::DownloadByClick() {
    box->ClearLogs();
    Click(Centre(form->ButtonDownload));
    return WaitForChain(DownloadChain(box->Contents().Edition()).size());
}

bool DesktopTest::WaitForChain(size_t count, int timeoutMs) {
    return WaitUntil([&] { return box->Received().size() >= count && form->Vars().Awaiting == 0; },
                     timeoutMs);
}

bool DesktopTest::ShowPage(int page) {
    QTabBar* bar = Get([&] { return form->PageControl1->tabBar(); });
    Click(Get([&] { return bar->mapToGlobal(bar->tabRect(page).center()); }));
    return WaitUntil([&] { return form->PageControl1->currentIndex() == page; });
}

bool DesktopTest::ClickCell(int program, ProgramTable table, int col, int row) {
    if (Page() != program && !ShowPage(program)) return false;
    TStringGrid* grid = Grid(program, table);
    Click(CellCentre(grid, col, row));
    return WaitUntil([&] {
        return grid->currentColumn() == col && grid->currentRow() == row && grid->hasFocus();
    });
}

bool DesktopTest::SelectBlock(int program, ProgramTable table, int col0, int row0, int col1,
                              int row1) {
    if (!ClickCell(program, table, col0, row0)) return false;
    TStringGrid* grid = Grid(program, table);
    KeyDown("shift");
    Click(CellCentre(grid, col1, row1));
    KeyUp("shift");
    const auto cells =
        static_cast<qsizetype>((std::abs(col1 - col0) + 1) * (std::abs(row1 - row0) + 1));
    return WaitUntil([&] { return grid->selectionModel()->selectedIndexes().size() == cells; });
}

bool DesktopTest::TypeIntoCell(int program, ProgramTable table, int col, int row,
                               const QString& text) {
    if (!ClickCell(program, table, col, row)) return false;
    Type(text);
    Key("Return");
    return WaitUntil(
        [&] { return form->ProgramGrid(program, table).Cell(col, row) == text.toStdString(); });
}

bool DesktopTest::OpenTableMenu(TStringGrid* grid, int col, int row) {
    Click(CellCentre(grid, col, row), 3);
    return WaitUntil([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); });
}

TStringGrid* DesktopTest::Grid(int program, ProgramTable table) {
    return Get([&] { return form->ProgramGridWidget(program, table); });
}

std::string DesktopTest::Cell(int program, ProgramTable table, int col, int row) {
    return Get([&] { return form->ProgramGrid(program, table).Cell(col, row); });
}

QString DesktopTest::Mark(int program, ProgramTable table, int col, int row) {
    return Get([&] { return form->ProgramGrid(program, table).CellMark(col, row); });
}

QVariant DesktopTest::CellRole(int program, ProgramTable table, int col, int row, int role) {
    return Get([&] {
        const CellModel& model = form->ProgramGrid(program, table).Model();
        return model.data(model.index(row, col), role);
    });
}

int DesktopTest::Page() {
    return Get([&] { return form->PageControl1->currentIndex(); });
}

QString DesktopTest::Status() {
    return Get([&] { return form->StatusBar1->currentMessage(); });
}

namespace {
// Blocks of 416 bytes per program: CH1, CH2 and CH3 of four rows and the FUEL% row, 16
// big-endian words a row.
size_t ImageOffset(int program, ProgramTable table, int col, int row) {
    return static_cast<size_t>(program - 1) * 416 + static_cast<size_t>(table) * 128 +
           static_cast<size_t>(row) * 32 + static_cast<size_t>(col - 1) * 2;
}
}  // namespace

std::string ImageValue(const std::vector<uint8_t>& image, int program, ProgramTable table, int col,
                       int row) {
    const size_t offset = ImageOffset(program, table, col, row);
    return std::to_string(static_cast<int16_t>((image.at(offset) << 8) | image.at(offset + 1)));
}

void SetImageValue(std::vector<uint8_t>& image, int program, ProgramTable table, int col, int row,
                   int16_t value) {
    const size_t offset = ImageOffset(program, table, col, row);
    image.at(offset) = static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8);
    image.at(offset + 1) = static_cast<uint8_t>(static_cast<uint16_t>(value) & 0xFF);
}

QByteArray TuningFile(const std::vector<uint8_t>& image, const std::array<uint16_t, 16>& config) {
    QByteArray bytes(reinterpret_cast<const char*>(image.data()), static_cast<int>(image.size()));
    for (uint16_t value : config) {
        bytes.append(static_cast<char>(value >> 8));
        bytes.append(static_cast<char>(value & 0xFF));
    }
    return bytes;
}

std::string DesktopTest::BoxValue(int program, ProgramTable table, int col, int row) const {
    return ImageValue(box->Contents().EditionImage(), program, table, col, row);
}

std::vector<uint8_t> DesktopTest::Codes() const {
    std::vector<uint8_t> codes;
    for (const ReceivedCommand& command : box->Received()) codes.push_back(command.code);
    return codes;
}

}  // namespace desktop
