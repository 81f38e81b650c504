#pragma once
// The X server as the monkey sees it: the tool's windows (found by the process id they
// carry), input through XTest, and the two round trips that tell whether the tool and the
// window manager have taken what was sent.
#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

struct Rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    bool Contains(int px, int py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

struct ToolWindow {
    enum class Kind { Main, Window, Dialog, FileDialog, Popup, Tooltip };
    Window id = 0;
    Kind kind = Kind::Window;
    Rect area;  // the client area on the screen, without the window manager's frame
    std::string title;
};

class Desk {
  public:
    Desk() = default;
    ~Desk();
    Desk(const Desk&) = delete;
    Desk& operator=(const Desk&) = delete;

    // Connects to $DISPLAY; false with the reason when there is no server or no XTest.
    bool Open(std::string& error);
    // Waits until a window manager names itself on the root window.
    bool WaitForWindowManager(std::chrono::milliseconds timeout);
    int ScreenWidth() const;
    int ScreenHeight() const;

    void SetToolPid(pid_t pid) { toolPid_ = pid; }
    // Reads the tool's shown windows again, bottom to top.
    void Refresh();
    const std::vector<ToolWindow>& Windows() const { return windows_; }
    const ToolWindow* Main() const;
    // The topmost dialog, if any.
    const ToolWindow* TopDialog() const;
    // The topmost open popup (a menu, a list dropping down), tooltips aside.
    const ToolWindow* TopPopup() const;
    bool FileDialogShown() const;
    // The tool's window that takes a click at this point: its client area is there and no
    // other window, frame or title bar lies above it. Nothing for any other point.
    const ToolWindow* At(int x, int y) const;

    // Input through XTest. Keys by X names ("Return", "a", "F2") after "ctrl+", "shift+".
    void MoveTo(int x, int y);
    void Button(int button, bool down);
    bool Key(const std::string& keys);
    static bool KnownKey(const std::string& keys);
    void Type(const std::string& text);
    void Flush();

    // The window's answer to _NET_WM_PING. Ping() sends one unless one is on its way; the
    // pongs are taken by Pump(), which also drains what else the server sends.
    void Ping();
    void Pump();
    // How long the oldest ping without an answer has been on its way (zero with none).
    std::chrono::milliseconds PingWaiting() const;
    // Round trip: the tool has answered a ping sent after everything before, and the window
    // manager has handled what the tool asked of it by then (a dialog it showed is mapped).
    // `keepWaiting` is asked between looks; false ends the wait. False when the tool did not
    // answer within `timeout`.
    bool Sync(std::chrono::milliseconds timeout, const std::function<bool()>& keepWaiting);
    // Asks the main window to close, as the window manager's close button does.
    void CloseMain();
    // A picture of the whole screen as a binary PPM file.
    bool SaveScreen(const std::string& path);

  private:
    struct Known {
        pid_t pid = 0;
        ToolWindow::Kind kind = ToolWindow::Kind::Window;
        std::string title;
        bool transient = false;
    };
    struct Stacked {
        Rect rect;
        int window = -1;  // index into windows_, or -1: no window of the tool
    };
    Atom Intern(const char* name);
    // A WM_PROTOCOLS client message (`protocol`, its time stamp) to a window of the tool.
    void SendProtocol(Window window, const char* protocol, long stamp);
    const Known& Describe(Window window, bool overrideRedirect);
    std::optional<Window> ClientIn(Window frame, int depth);
    void WaitForFrameExtents(std::chrono::milliseconds timeout);

    Display* display_ = nullptr;
    Window root_ = 0;
    Window marker_ = 0;  // a window of our own for the window manager's round trip
    pid_t toolPid_ = 0;
    std::map<Window, Known> known_;
    std::map<Window, Window> frameClient_;
    // The tool's first normal window is its main window; others (the live graph) come later.
    Window main_ = 0;
    std::vector<ToolWindow> windows_;
    std::vector<Stacked> stack_;  // top first
    long pingStamp_ = 0;
    std::optional<Clock::time_point> pingSent_;
    bool pongSeen_ = false;
    long extentsSeen_ = 0;
};
