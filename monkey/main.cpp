// The monkey: starts the tool on the X display of $DISPLAY with a simulated box behind a
// link, sends it random real input through the X server (or replays a list of events), and
// fails when the tool crashes, reports a sanitizer finding or an exception that reached the
// event loop, or stops answering for 5 s. scripts/monkey.sh makes the display and the
// folder it runs in; see monkey/README.md.
//
//   monkey --tool PROGRAM --link PATH --events OUT --stderr FILE
//          (--seconds N --seed S | --replay LIST)
#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Box.h"
#include "Desk.h"
#include "Events.h"
#include "Generator.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kAnswerLimit = 5000ms;
constexpr auto kPingEvery = 1000ms;
const std::string kFirstSerial = "30012345";

// Lines the tool's standard error holds only after a fault.
const char* const kFaultMarks[] = {
    "ERROR: AddressSanitizer",
    "ERROR: LeakSanitizer",
    "runtime error:",
    "exception reached the event loop",
};

struct Options {
    std::string tool;
    std::string link;
    std::string events;
    std::string toolStderr;
    std::string replay;
    int seconds = 60;
    uint64_t seed = 1;
};

// A name a file dialog may be given: letters, digits, '_', '-' and dots between them.
bool SafeFileName(const std::string& name) {
    if (name.empty() || name.size() > 40 || name.front() == '.' || name.back() == '.') return false;
    if (name.find("..") != std::string::npos) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
    });
}

std::vector<std::string> FilesIn(const std::string& path) {
    std::vector<std::string> names;
    DIR* folder = opendir(path.c_str());
    if (folder == nullptr) return names;
    while (dirent* entry = readdir(folder)) {
        struct stat info {};
        const std::string file = path + "/" + entry->d_name;
        if (SafeFileName(entry->d_name) && stat(file.c_str(), &info) == 0 &&
            S_ISREG(info.st_mode)) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

// Files in the working folder for "Open file", "Compare with file…" and "Open recording…"
// to find, the same in every run: tuning files of both sizes with random and with zero
// bytes, one cut short, and recordings long, flat (no time passes), of one message, of the
// header alone, and not a recording at all.
void MakeFixtures() {
    std::mt19937 random(24);
    const auto write = [](const char* name, const std::string& bytes) {
        std::ofstream(name, std::ios::binary) << bytes;
    };
    const auto bytes = [&](size_t size) {
        std::string text(size, '\0');
        for (char& c : text) c = static_cast<char>(random());
        return text;
    };
    write("random3.bin", bytes(3776));
    write("random2.bin", bytes(2305));
    write("zeros3.bin", std::string(3776, '\0'));
    write("short.bin", bytes(17));
    const std::string header = "seconds,rpm,press1,temp1,press2,temp2,press3,program\n";
    std::ostringstream run;
    run << header;
    long micros = 0;
    for (int line = 0; line < 3000; ++line) {
        micros += static_cast<long>(random() % 5000);
        run << micros / 1000000 << '.' << std::setw(6) << std::setfill('0') << micros % 1000000;
        for (int channel = 0; channel < 6; ++channel) {
            // Mostly an engine's values, now and then the highest a reading can be.
            run << ',' << (random() % 50 == 0 ? 65535 : random() % 9000);
        }
        run << ',' << random() % 256 << '\n';
    }
    write("run.csv", run.str());
    write("flat.csv",
          header + "1.000000,3000,300,90,200,80,100,2\n1.000000,3100,310,91,210,81,110,3\n");
    write("one.csv", header + "0.000000,800,0,20,0,20,0,0\n");
    write("header.csv", header);
    write("not-a-run.csv", "rpm;press\n1;2;3\n");
}

class Tool {
  public:
    bool Start(const Options& options, std::string& error) {
        pid_ = fork();
        if (pid_ < 0) {
            error = std::string("fork: ") + std::strerror(errno);
            return false;
        }
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            std::FILE* err = std::fopen(options.toolStderr.c_str(), "w");
            std::FILE* out = std::fopen("/dev/null", "w");
            if (err != nullptr) dup2(fileno(err), 2);
            if (out != nullptr) dup2(fileno(out), 1);
            execl(options.tool.c_str(), options.tool.c_str(), "--port", options.link.c_str(),
                  static_cast<char*>(nullptr));
            std::fprintf(stderr, "cannot run %s: %s\n", options.tool.c_str(), std::strerror(errno));
            _exit(127);
        }
        return true;
    }

    pid_t Pid() const { return pid_; }

    // False once the process has ended; `how` then says how.
    bool Alive() {
        if (ended_) return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
        ended_ = true;
        status_ = status;
        return false;
    }

    std::string How() const {
        if (!ended_) return "still running";
        if (WIFSIGNALED(status_)) {
            return std::string("killed by signal ") + std::to_string(WTERMSIG(status_)) + " (" +
                   strsignal(WTERMSIG(status_)) + ")";
        }
        return "exit status " + std::to_string(WEXITSTATUS(status_));
    }
    bool EndedWell() const { return ended_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }

    void Kill() {
        if (!Alive()) return;
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        ended_ = true;
        status_ = status;
    }

  private:
    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = 0;
};

// Reads what the tool has written to its standard error since the last look.
class FaultWatch {
  public:
    explicit FaultWatch(std::string path) : path_(std::move(path)) {}
    // The first line that shows a fault, once there is one.
    const std::string& Fault() {
        if (!fault_.empty()) return fault_;
        std::ifstream in(path_, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(read_));
        std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        read_ += chunk.size();
        pending_ += chunk;
        size_t end;
        while ((end = pending_.find('\n')) != std::string::npos) {
            const std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            for (const char* mark : kFaultMarks) {
                if (line.find(mark) != std::string::npos && fault_.empty()) fault_ = line;
            }
        }
        return fault_;
    }

  private:
    std::string path_;
    size_t read_ = 0;
    std::string pending_;
    std::string fault_;
};

class Monkey {
  public:
    explicit Monkey(const Options& options)
        : options_(options),
          box_(options.link),
          faults_(options.toolStderr),
          generator_(options.seed) {}

    int Run();

  private:
    bool Healthy();
    bool WaitUntil(Clock::time_point when);
    bool Sync();
    bool Send(const Event& event);
    bool Allowed(const Event& event);
    void Record(const Event& event);
    void Fail(const std::string& why);
    void SaveStacks();
    bool Quit();
    void Summary(double seconds);

    Options options_;
    Desk desk_;
    Tool tool_;
    BoxOnLink box_;
    FaultWatch faults_;
    Generator generator_;
    std::ofstream log_;
    Clock::time_point start_;
    Clock::time_point lastPing_;
    std::string failure_;
    std::set<int> held_;
    bool pointerPlaced_ = false;
    int pointerX_ = -1;
    int pointerY_ = -1;
    size_t sent_ = 0;
    size_t dropped_ = 0;
    size_t boxOffs_ = 0;
    std::string boxError_;
    size_t syncs_ = 0;
    Clock::duration syncTime_{};
    Clock::duration longestSync_{};
};

void Monkey::Fail(const std::string& why) {
    if (!failure_.empty()) return;
    failure_ = why;
    desk_.SaveScreen(options_.toolStderr + ".screen.ppm");
}

bool Monkey::Healthy() {
    if (!failure_.empty()) return false;
    const std::string& fault = faults_.Fault();
    if (!fault.empty()) {
        Fail("the tool reported: " + fault);
        return false;
    }
    if (!tool_.Alive()) {
        Fail("the tool ended unexpectedly: " + tool_.How());
        return false;
    }
    desk_.Pump();
    if (desk_.PingWaiting() >= kAnswerLimit) {
        Fail("the tool's window has not answered for 5 s");
        SaveStacks();
        return false;
    }
    if (Clock::now() - lastPing_ >= kPingEvery) {
        desk_.Ping();
        lastPing_ = Clock::now();
    }
    return true;
}

bool Monkey::WaitUntil(Clock::time_point when) {
    while (Healthy()) {
        const auto left = when - Clock::now();
        if (left <= 0ms) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(left, 5ms));
    }
    return false;
}

bool Monkey::Sync() {
    const Clock::time_point began = Clock::now();
    if (desk_.Sync(kAnswerLimit, [this] { return Healthy(); })) {
        const auto took = Clock::now() - began;
        ++syncs_;
        syncTime_ += took;
        longestSync_ = std::max(longestSync_, took);
        return true;
    }
    if (failure_.empty()) {
        Fail("the tool's window has not answered for 5 s");
        SaveStacks();
    }
    return false;
}

void Monkey::SaveStacks() {
    // Where each of the tool's threads stands, while it hangs.
    const std::string out = options_.toolStderr + ".stacks";
    const std::string command = "command -v gdb >/dev/null && gdb -p " +
                                std::to_string(tool_.Pid()) +
                                " -batch -ex 'thread apply all bt' >'" + out + "' 2>&1";
    if (std::system(command.c_str()) == 0) {
        std::cerr << "monkey: the tool's threads as it hung: " << out << "\n";
    }
}

bool Monkey::Allowed(const Event& event) {
    const bool fileDialog = desk_.FileDialogShown();
    switch (event.verb) {
        case Event::Verb::Move:
            // Only the tool's own windows; a file dialog is answered with keys alone.
            return desk_.At(event.x, event.y) != nullptr && !fileDialog;
        case Event::Verb::Click:
        case Event::Verb::Press:
        case Event::Verb::Wheel:
            return pointerPlaced_ && !fileDialog && desk_.At(pointerX_, pointerY_) != nullptr;
        case Event::Verb::Release:
            return held_.count(event.button) != 0;
        case Event::Verb::Key:
            if (!Desk::KnownKey(event.text)) return false;
            return !fileDialog || event.text == "Return" || event.text == "KP_Enter" ||
                   event.text == "Escape";
        case Event::Verb::Text:
            return !fileDialog || SafeFileName(event.text);
        case Event::Verb::Port:
            return !fileDialog;
        case Event::Verb::BoxOff:
        case Event::Verb::BoxOn:
            return true;
    }
    return false;
}

bool Monkey::Send(const Event& event) {
    // Everything but a pointer's move waits until the tool has taken what came before and
    // the window manager has shown what the tool opened, so that the event is aimed at what
    // is on the screen now.
    if (event.verb != Event::Verb::Move && event.verb != Event::Verb::BoxOff &&
        event.verb != Event::Verb::BoxOn) {
        if (!Sync()) return false;
    } else if (event.verb == Event::Verb::Move) {
        desk_.Refresh();
    }
    if (!Allowed(event)) {
        ++dropped_;
        if (event.verb == Event::Verb::Move) pointerPlaced_ = false;
        return true;
    }
    switch (event.verb) {
        case Event::Verb::Move:
            desk_.MoveTo(event.x, event.y);
            pointerPlaced_ = true;
            pointerX_ = event.x;
            pointerY_ = event.y;
            break;
        case Event::Verb::Click:
            for (int i = 0; i < event.count; ++i) {
                desk_.Button(event.button, true);
                desk_.Button(event.button, false);
            }
            break;
        case Event::Verb::Press:
            desk_.Button(event.button, true);
            held_.insert(event.button);
            break;
        case Event::Verb::Release:
            desk_.Button(event.button, false);
            held_.erase(event.button);
            break;
        case Event::Verb::Wheel: {
            // Buttons 4 and 5: a notch away from the user and towards.
            const int button = event.count > 0 ? 4 : 5;
            for (int i = 0; i < std::abs(event.count); ++i) {
                desk_.Button(button, true);
                desk_.Button(button, false);
            }
            break;
        }
        case Event::Verb::Key:
            desk_.Key(event.text);
            break;
        case Event::Verb::Text:
            desk_.Type(event.text);
            break;
        case Event::Verb::Port:
            desk_.Type(box_.Link());
            break;
        case Event::Verb::BoxOff:
            box_.Off();
            ++boxOffs_;
            break;
        case Event::Verb::BoxOn:
            if (!box_.On(event.text, std::chrono::microseconds(event.liveIntervalUs), boxError_)) {
                Fail(boxError_);
                return false;
            }
            break;
    }
    desk_.Flush();
    ++sent_;
    return true;
}

void Monkey::Record(const Event& event) {
    log_ << FormatEvent(event) << '\n';
    log_.flush();
}

bool Monkey::Quit() {
    // Dialogs and menus first: the window closes from its own loop.
    for (int attempt = 0; attempt < 6; ++attempt) {
        if (!Sync()) return false;
        for (int held : std::set<int>(held_)) {
            desk_.Button(held, false);
            held_.erase(held);
        }
        const ToolWindow* dialog = desk_.TopDialog();
        if (dialog != nullptr && dialog->title == "Close") {
            // Changes neither sent nor saved: the tool asks before it closes, No by default;
            // a message box takes its buttons' letters without Alt.
            desk_.Key("y");
            desk_.Flush();
        } else if (desk_.TopPopup() != nullptr || dialog != nullptr) {
            desk_.Key("Escape");
            desk_.Flush();
            continue;
        } else {
            desk_.CloseMain();
        }
        const Clock::time_point end = Clock::now() + 3s;
        while (Clock::now() < end && tool_.Alive()) std::this_thread::sleep_for(20ms);
        if (!tool_.Alive()) break;
    }
    // The leak check runs as the process ends and may take a while under the sanitizers.
    const Clock::time_point end = Clock::now() + 60s;
    while (Clock::now() < end && tool_.Alive()) std::this_thread::sleep_for(20ms);
    if (tool_.Alive()) {
        Fail("the tool did not quit when its window was closed");
        SaveStacks();
        tool_.Kill();
        return false;
    }
    const std::string& fault = faults_.Fault();
    if (!fault.empty()) {
        Fail("the tool reported: " + fault);
        return false;
    }
    if (!tool_.EndedWell()) {
        Fail("the tool ended with " + tool_.How());
        return false;
    }
    return true;
}

int Monkey::Run() {
    std::string error;
    if (!desk_.Open(error)) {
        std::cerr << "monkey: " << error << "\n";
        return 2;
    }
    if (!desk_.WaitForWindowManager(10s)) {
        std::cerr << "monkey: no window manager on the display\n";
        return 2;
    }
    std::vector<Event> replay;
    if (!options_.replay.empty()) {
        std::ifstream in(options_.replay);
        if (!in || !ReadEvents(in, replay, error)) {
            std::cerr << "monkey: " << options_.replay << ": "
                      << (in ? error : std::string("cannot read it")) << "\n";
            return 2;
        }
    }
    log_.open(options_.events);
    log_ << "# corvane-zel monkey events: time in ms since the window answered, verb, arguments\n";
    if (options_.replay.empty()) {
        log_ << "# seed " << options_.seed << ", " << options_.seconds << " s, screen "
             << desk_.ScreenWidth() << "x" << desk_.ScreenHeight() << "\n";
    } else {
        log_ << "# replay of " << replay.size() << " events\n";
    }

    // The box is there from the start, unless a replay says otherwise at time 0.
    Event first;
    first.verb = Event::Verb::BoxOn;
    first.text = kFirstSerial;
    if (replay.empty() || replay.front().verb != Event::Verb::BoxOn || replay.front().atMs != 0) {
        if (!box_.On(first.text, std::chrono::microseconds(first.liveIntervalUs), error)) {
            std::cerr << "monkey: " << error << "\n";
            return 2;
        }
        if (options_.replay.empty()) Record(first);
    }

    MakeFixtures();
    if (!tool_.Start(options_, error)) {
        std::cerr << "monkey: " << error << "\n";
        return 2;
    }
    desk_.SetToolPid(tool_.Pid());
    // The window is up once it is shown and answers.
    const Clock::time_point deadline = Clock::now() + 60s;
    while (desk_.Main() == nullptr && Clock::now() < deadline && Healthy()) {
        std::this_thread::sleep_for(50ms);
        desk_.Refresh();
    }
    if (desk_.Main() == nullptr && failure_.empty()) Fail("the tool's window did not show in 60 s");
    if (failure_.empty()) Sync();

    start_ = Clock::now();
    lastPing_ = start_;
    std::deque<Event> queue;
    size_t next = 0;
    Clock::time_point due = start_;
    Clock::time_point lastFiles = start_ - 1h;
    std::vector<std::string> files;
    while (failure_.empty()) {
        Event event;
        if (!options_.replay.empty()) {
            if (next == replay.size()) break;
            event = replay[next++];
            due = start_ + std::chrono::milliseconds(event.atMs);
        } else {
            if (queue.empty()) {
                if (Clock::now() - start_ >= std::chrono::seconds(options_.seconds)) break;
                if (!Sync()) break;
                if (Clock::now() - lastFiles >= 1s) {
                    files = FilesIn(".");
                    lastFiles = Clock::now();
                }
                Scene scene;
                scene.main = desk_.Main();
                for (const ToolWindow& window : desk_.Windows()) {
                    if (window.kind == ToolWindow::Kind::Window) scene.graph = &window;
                }
                scene.dialog = desk_.TopDialog();
                scene.popup = desk_.TopPopup();
                scene.files = files;
                scene.boxOn = box_.IsOn();
                scene.nowMs =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_)
                        .count();
                for (const Event& made : generator_.Next(scene)) queue.push_back(made);
                if (queue.empty()) {
                    std::this_thread::sleep_for(20ms);
                    continue;
                }
                due = std::max(due, Clock::now());
            }
            event = queue.front();
            queue.pop_front();
            due += std::chrono::milliseconds(event.atMs);
        }
        if (!WaitUntil(due)) break;
        // The time it went, for a replay at the same pace.
        event.atMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
        Record(event);
        if (!Send(event)) break;
        due = std::max(due, Clock::now());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    if (failure_.empty()) Quit();
    if (tool_.Alive()) tool_.Kill();
    const size_t commands = box_.Commands();
    const size_t live = box_.LiveMessages();
    box_.Off();
    Summary(seconds);
    std::printf("monkey: the boxes took %zu commands and sent %zu live messages\n", commands, live);
    const char* data = std::getenv("XDG_DATA_HOME");
    std::printf("monkey: the tool left %zu files in its folder and %zu backups\n",
                FilesIn(".").size(),
                data != nullptr ? FilesIn(std::string(data) + "/corvane-zel/backups").size() : 0);
    if (!failure_.empty()) {
        std::cerr << "monkey: FAILED: " << failure_ << "\n";
        return 1;
    }
    return 0;
}

void Monkey::Summary(double seconds) {
    const std::string what =
        options_.replay.empty() ? "seed " + std::to_string(options_.seed) : "replay";
    std::printf(
        "monkey: %s: %zu events in %.1f s, %.1f a second (%zu not sent: outside "
        "the tool's windows or into a file dialog); the box went away %zu times\n",
        what.c_str(), sent_, seconds, seconds > 0 ? static_cast<double>(sent_) / seconds : 0.0,
        dropped_, boxOffs_);
    if (syncs_ > 0) {
        const auto ms = [](Clock::duration d) {
            return std::chrono::duration<double, std::milli>(d).count();
        };
        std::printf(
            "monkey: %zu waits for the window to take the input before: %.1f ms each, "
            "%.0f ms the longest\n",
            syncs_, ms(syncTime_) / static_cast<double>(syncs_), ms(longestSync_));
    }
    std::fflush(stdout);
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc) return false;
        const std::string value = argv[++i];
        if (name == "--tool") {
            options.tool = value;
        } else if (name == "--link") {
            options.link = value;
        } else if (name == "--events") {
            options.events = value;
        } else if (name == "--stderr") {
            options.toolStderr = value;
        } else if (name == "--replay") {
            options.replay = value;
        } else if (name == "--seconds") {
            options.seconds = std::atoi(value.c_str());
        } else if (name == "--seed") {
            options.seed = std::strtoull(value.c_str(), nullptr, 10);
        } else {
            return false;
        }
    }
    return !options.tool.empty() && !options.link.empty() && !options.events.empty() &&
           !options.toolStderr.empty() && options.seconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::cerr << "usage: monkey --tool PROGRAM --link PATH --events OUT --stderr FILE "
                     "(--seconds N --seed S | --replay LIST)\n";
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    return Monkey(options).Run();
}
