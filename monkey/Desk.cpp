#include "Desk.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <poll.h>

#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// Windows come and go between two requests about them; a request about one that has gone
// is answered with an error, which is no fault here.
int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

// The keysym and the modifiers of "ctrl+shift+a".
struct KeyChord {
    KeySym keysym = NoSymbol;
    bool ctrl = false;
    bool shift = false;
};

std::optional<KeyChord> ParseKeys(const std::string& keys) {
    KeyChord chord;
    size_t from = 0;
    while (true) {
        const size_t plus = keys.find('+', from);
        const std::string part = keys.substr(from, plus == std::string::npos ? plus : plus - from);
        if (plus == std::string::npos) {
            chord.keysym = XStringToKeysym(part.c_str());
            if (chord.keysym == NoSymbol) return std::nullopt;
            return chord;
        }
        if (part == "ctrl") {
            chord.ctrl = true;
        } else if (part == "shift") {
            chord.shift = true;
        } else {
            return std::nullopt;
        }
        from = plus + 1;
    }
}

}  // namespace

Desk::~Desk() {
    if (display_ != nullptr) XCloseDisplay(display_);
}

bool Desk::Open(std::string& error) {
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr) {
        error = "cannot connect to the X server";
        return false;
    }
    int event = 0, base = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &event, &base, &major, &minor)) {
        error = "the X server has no XTest";
        return false;
    }
    XSetErrorHandler(IgnoreErrors);
    root_ = DefaultRootWindow(display_);
    // Qt sends its pongs to the root window for those who watch its structure.
    XSelectInput(display_, root_, StructureNotifyMask);
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    marker_ = XCreateWindow(display_, root_, -10, -10, 1, 1, 0, CopyFromParent, InputOnly,
                            CopyFromParent, CWEventMask, &attributes);
    XFlush(display_);
    return true;
}

Atom Desk::Intern(const char* name) {
    return XInternAtom(display_, name, False);
}

int Desk::ScreenWidth() const {
    return DisplayWidth(display_, DefaultScreen(display_));
}

int Desk::ScreenHeight() const {
    return DisplayHeight(display_, DefaultScreen(display_));
}

bool Desk::WaitForWindowManager(std::chrono::milliseconds timeout) {
    const Atom check = Intern("_NET_SUPPORTING_WM_CHECK");
    const Clock::time_point end = Clock::now() + timeout;
    while (Clock::now() < end) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        const bool found = XGetWindowProperty(display_, root_, check, 0, 1, False, XA_WINDOW, &type,
                                              &format, &count, &after, &data) == Success &&
                           count == 1;
        if (data != nullptr) XFree(data);
        if (found) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

const Desk::Known& Desk::Describe(Window window, bool overrideRedirect) {
    auto found = known_.find(window);
    if (found != known_.end()) return found->second;
    Known known;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display_, window, Intern("_NET_WM_PID"), 0, 1, False, XA_CARDINAL, &type,
                           &format, &count, &after, &data) == Success &&
        count == 1 && format == 32) {
        known.pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data != nullptr) XFree(data);
    data = nullptr;
    if (known.pid != toolPid_) {
        // Not the tool's: nothing else about it matters, and it is looked at again, since a
        // window about to be shown may not have its properties yet.
        return known_[0] = known;
    }
    Atom windowType = None;
    if (XGetWindowProperty(display_, window, Intern("_NET_WM_WINDOW_TYPE"), 0, 1, False, XA_ATOM,
                           &type, &format, &count, &after, &data) == Success &&
        count >= 1 && format == 32) {
        windowType = static_cast<Atom>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data != nullptr) XFree(data);
    data = nullptr;
    if (XGetWindowProperty(display_, window, Intern("_NET_WM_NAME"), 0, 256, False,
                           Intern("UTF8_STRING"), &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr) {
        known.title.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data != nullptr) XFree(data);
    Window transientFor = 0;
    known.transient = XGetTransientForHint(display_, window, &transientFor) != 0;

    if (overrideRedirect) {
        known.kind = windowType == Intern("_NET_WM_WINDOW_TYPE_TOOLTIP") ? ToolWindow::Kind::Tooltip
                                                                         : ToolWindow::Kind::Popup;
    } else if (windowType == Intern("_NET_WM_WINDOW_TYPE_DIALOG")) {
        // Qt's own file dialog is titled "Open" or "Save As" unless the tool names it.
        const bool file = known.title.rfind("Open", 0) == 0 || known.title.rfind("Save", 0) == 0;
        known.kind = file ? ToolWindow::Kind::FileDialog : ToolWindow::Kind::Dialog;
    } else if (main_ == 0 && !known.transient) {
        main_ = window;
        known.kind = ToolWindow::Kind::Main;
    } else {
        known.kind = ToolWindow::Kind::Window;
    }
    return known_[window] = known;
}

std::optional<Window> Desk::ClientIn(Window frame, int depth) {
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display_, frame, &rootReturn, &parent, &children, &count)) return std::nullopt;
    std::optional<Window> client;
    for (unsigned int i = 0; i < count && !client; ++i) {
        if (Describe(children[i], false).pid == toolPid_) {
            client = children[i];
        } else if (depth > 0) {
            client = ClientIn(children[i], depth - 1);
        }
    }
    if (children != nullptr) XFree(children);
    return client;
}

void Desk::Refresh() {
    windows_.clear();
    stack_.clear();
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display_, root_, &rootReturn, &parent, &children, &count)) return;
    for (unsigned int i = 0; i < count; ++i) {
        const Window child = children[i];
        XWindowAttributes top{};
        if (!XGetWindowAttributes(display_, child, &top) || top.map_state != IsViewable ||
            top.c_class == InputOnly) {
            continue;
        }
        Stacked stacked;
        stacked.rect = {top.x, top.y, top.width + 2 * top.border_width,
                        top.height + 2 * top.border_width};
        Window client = 0;
        if (top.override_redirect) {
            if (Describe(child, true).pid == toolPid_) client = child;
        } else {
            auto cached = frameClient_.find(child);
            if (cached != frameClient_.end()) {
                client = cached->second;
            } else if (std::optional<Window> inside = ClientIn(child, 2)) {
                client = *inside;
                frameClient_[child] = client;
            }
        }
        if (client != 0) {
            XWindowAttributes attributes{};
            int x = 0, y = 0;
            Window ignored = 0;
            if (XGetWindowAttributes(display_, client, &attributes) &&
                attributes.map_state == IsViewable &&
                XTranslateCoordinates(display_, client, root_, 0, 0, &x, &y, &ignored)) {
                const Known& known = Describe(client, top.override_redirect);
                ToolWindow window;
                window.id = client;
                window.kind = known.kind;
                window.title = known.title;
                window.area = {x, y, attributes.width, attributes.height};
                stacked.window = static_cast<int>(windows_.size());
                windows_.push_back(window);
            }
        }
        stack_.insert(stack_.begin(), stacked);
    }
    if (children != nullptr) XFree(children);
}

const ToolWindow* Desk::Main() const {
    for (const ToolWindow& window : windows_) {
        if (window.kind == ToolWindow::Kind::Main) return &window;
    }
    return nullptr;
}

const ToolWindow* Desk::TopDialog() const {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
        if (it->kind == ToolWindow::Kind::Dialog || it->kind == ToolWindow::Kind::FileDialog) {
            return &*it;
        }
    }
    return nullptr;
}

const ToolWindow* Desk::TopPopup() const {
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
        if (it->kind == ToolWindow::Kind::Popup) return &*it;
    }
    return nullptr;
}

bool Desk::FileDialogShown() const {
    for (const ToolWindow& window : windows_) {
        if (window.kind == ToolWindow::Kind::FileDialog) return true;
    }
    return false;
}

const ToolWindow* Desk::At(int x, int y) const {
    for (const Stacked& stacked : stack_) {
        if (!stacked.rect.Contains(x, y)) continue;
        if (stacked.window < 0) return nullptr;
        const ToolWindow& window = windows_[static_cast<size_t>(stacked.window)];
        return window.area.Contains(x, y) ? &window : nullptr;
    }
    return nullptr;
}

void Desk::MoveTo(int x, int y) {
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
}

void Desk::Button(int button, bool down) {
    XTestFakeButtonEvent(display_, static_cast<unsigned int>(button), down ? True : False,
                         CurrentTime);
}

bool Desk::KnownKey(const std::string& keys) {
    return ParseKeys(keys).has_value();
}

bool Desk::Key(const std::string& keys) {
    const std::optional<KeyChord> chord = ParseKeys(keys);
    if (!chord) return false;
    const KeyCode code = XKeysymToKeycode(display_, chord->keysym);
    if (code == 0) return false;
    const KeyCode ctrl = XKeysymToKeycode(display_, XK_Control_L);
    const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
    // A keysym on the shifted level of its key ("A", "%") needs Shift as typed text does.
    const bool shifted = chord->shift || XkbKeycodeToKeysym(display_, code, 0, 0) != chord->keysym;
    if (chord->ctrl) XTestFakeKeyEvent(display_, ctrl, True, CurrentTime);
    if (shifted) XTestFakeKeyEvent(display_, shift, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shifted) XTestFakeKeyEvent(display_, shift, False, CurrentTime);
    if (chord->ctrl) XTestFakeKeyEvent(display_, ctrl, False, CurrentTime);
    return true;
}

void Desk::Type(const std::string& text) {
    for (const char c : text) {
        // Printable ASCII characters are their own Latin-1 keysyms.
        if (c < 0x20 || c > 0x7e) continue;
        const KeySym keysym = static_cast<KeySym>(static_cast<unsigned char>(c));
        const KeyCode code = XKeysymToKeycode(display_, keysym);
        if (code == 0) continue;
        const KeyCode shift = XKeysymToKeycode(display_, XK_Shift_L);
        const bool shifted = XkbKeycodeToKeysym(display_, code, 0, 0) != keysym;
        if (shifted) XTestFakeKeyEvent(display_, shift, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        if (shifted) XTestFakeKeyEvent(display_, shift, False, CurrentTime);
    }
}

void Desk::Flush() {
    XFlush(display_);
}

void Desk::SendProtocol(Window window, const char* protocol, long stamp) {
    // As the window manager sends them: a WM_PROTOCOLS message naming the protocol, its time
    // stamp and the window.
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = Intern("WM_PROTOCOLS");
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(Intern(protocol));
    event.xclient.data.l[1] = stamp;
    event.xclient.data.l[2] = static_cast<long>(window);
    XSendEvent(display_, window, False, NoEventMask, &event);
    XFlush(display_);
}

void Desk::Ping() {
    const ToolWindow* main = Main();
    if (pingSent_ || main == nullptr) return;
    SendProtocol(main->id, "_NET_WM_PING", ++pingStamp_);
    pingSent_ = Clock::now();
    pongSeen_ = false;
}

void Desk::Pump() {
    const Atom protocols = Intern("WM_PROTOCOLS");
    const Atom ping = Intern("_NET_WM_PING");
    const Atom extents = Intern("_NET_FRAME_EXTENTS");
    while (XPending(display_) > 0) {
        XEvent event{};
        XNextEvent(display_, &event);
        if (event.type == ClientMessage && event.xclient.window == root_ &&
            event.xclient.message_type == protocols &&
            static_cast<Atom>(event.xclient.data.l[0]) == ping &&
            event.xclient.data.l[1] == pingStamp_) {
            pingSent_.reset();
            pongSeen_ = true;
        } else if (event.type == PropertyNotify && event.xproperty.window == marker_ &&
                   event.xproperty.atom == extents) {
            ++extentsSeen_;
        }
    }
}

std::chrono::milliseconds Desk::PingWaiting() const {
    if (!pingSent_) return std::chrono::milliseconds(0);
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *pingSent_);
}

namespace {
void WaitForServer(Display* display, std::chrono::milliseconds most) {
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(most.count()));
}
}  // namespace

bool Desk::Sync(std::chrono::milliseconds timeout, const std::function<bool()>& keepWaiting) {
    const auto answered = [&] {
        while (pingSent_) {
            if (PingWaiting() >= timeout || !keepWaiting()) return false;
            WaitForServer(display_, std::chrono::milliseconds(20));
            Pump();
        }
        return true;
    };
    // A ping already on its way may have gone before the last input: the answers that count
    // are to pings sent after it. Qt answers a ping as it reads it, but hands the input read
    // with it to the widgets a moment later, in the same turn of its loop; so one ping
    // answered says the input was read, a second one that it was handled.
    Pump();
    if (!answered()) return false;
    for (int ping = 0; ping < 2; ++ping) {
        Ping();
        if (!answered()) return false;
    }
    WaitForFrameExtents(std::chrono::milliseconds(1000));
    Refresh();
    return true;
}

void Desk::WaitForFrameExtents(std::chrono::milliseconds timeout) {
    // The window manager answers _NET_REQUEST_FRAME_EXTENTS with a property on the window
    // asked about. It handles requests in order, so a window the tool asked it to show
    // before is shown by then.
    const long before = extentsSeen_;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = marker_;
    event.xclient.message_type = Intern("_NET_REQUEST_FRAME_EXTENTS");
    event.xclient.format = 32;
    XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display_);
    const Clock::time_point end = Clock::now() + timeout;
    while (extentsSeen_ == before && Clock::now() < end) {
        WaitForServer(display_, std::chrono::milliseconds(10));
        Pump();
    }
}

void Desk::CloseMain() {
    const ToolWindow* main = Main();
    if (main == nullptr) return;
    SendProtocol(main->id, "WM_DELETE_WINDOW", CurrentTime);
}

bool Desk::SaveScreen(const std::string& path) {
    const int width = ScreenWidth();
    const int height = ScreenHeight();
    XImage* image = XGetImage(display_, root_, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out != nullptr) {
        std::fprintf(out, "P6\n%d %d\n255\n", width, height);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                const unsigned char rgb[3] = {static_cast<unsigned char>(pixel >> 16),
                                              static_cast<unsigned char>(pixel >> 8),
                                              static_cast<unsigned char>(pixel)};
                std::fwrite(rgb, 1, 3, out);
            }
        }
        std::fclose(out);
    }
    XDestroyImage(image);
    return out != nullptr;
}
