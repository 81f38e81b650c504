#include "Generator.h"

#include <algorithm>
#include <cmath>

namespace {

// Places in the main window's client area, whose layout has fixed sizes.
struct Place {
    Rect area;
    int weight;
};

const std::vector<Place> kButtons = {
    {{10, 10, 77, 93}, 6},     // Connect / Disconnect
    {{97, 10, 77, 93}, 3},     // Open file
    {{184, 10, 77, 93}, 3},    // Save file
    {{10, 154, 77, 21}, 6},    // Download
    {{97, 154, 77, 21}, 4},    // Send
    {{310, 10, 77, 21}, 6},    // Dyno log ON / OFF
    {{397, 10, 85, 21}, 2},    // Reset log P>0
    {{700, 10, 86, 21}, 2},    // Set RPM to ALL
    {{796, 10, 74, 21}, 2},    // Copy PROG
    {{796, 40, 96, 21}, 2},    // Paste PROG
    {{801, 153, 76, 21}, 2},   // Copy -> Paste
    {{424, 140, 300, 40}, 8},  // program buttons 0..9
    {{799, 85, 40, 56}, 2},    // CH1..CH3 radio buttons
    {{854, 85, 40, 56}, 2},    // CH1..CH3 check boxes
    {{882, 150, 16, 16}, 1},   // copy and send
    {{504, 588, 40, 30}, 2},   // P=0, P>0
    {{10, 571, 390, 18}, 8},   // the pages' tabs
    {{930, 17, 162, 88}, 1},   // the logo
};

// The tables: the four of a program page (the Service page has its own there), the dyno log.
const std::vector<Rect> kTables = {
    {10, 188, 892, 105}, {10, 300, 892, 105}, {10, 414, 892, 105},
    {10, 530, 892, 28},  {12, 621, 892, 104},
};

const Rect kCharts = {910, 190, 200, 332};
const Rect kFileList = {910, 525, 200, 200};
const Rect kPortText = {10, 112, 62, 19};
const Rect kPortArrow = {74, 112, 14, 19};

const std::vector<std::string> kShortcuts = {
    "ctrl+z",       "ctrl+y",       "ctrl+shift+z", "ctrl+shift+a", "ctrl+shift+m", "ctrl+shift+s",
    "ctrl+shift+i", "ctrl+shift+c", "ctrl+shift+v", "ctrl+shift+h", "ctrl+g",       "ctrl+c",
    "ctrl+v",       "ctrl+Left",    "ctrl+Right",   "ctrl+Up",      "ctrl+Down",    "ctrl+a",
    "ctrl+x",       "ctrl+Home",    "ctrl+End",
};

const std::vector<std::string> kKeys = {
    "Left",  "Right",     "Up",         "Down",       "Return",      "KP_Enter", "Escape",
    "Tab",   "shift+Tab", "BackSpace",  "Delete",     "Home",        "End",      "Prior",
    "Next",  "F2",        "space",      "shift+Left", "shift+Right", "shift+Up", "shift+Down",
    "minus", "plus",      "shift+Home", "shift+End",  "0",           "5",        "9",
};

const std::vector<std::string> kMenuKeys = {"Down", "Down",  "Up",   "Return", "Escape",
                                            "Left", "Right", "Home", "End",    "space"};

// Nonsense for the cells and fields. Never a folder separator or the home folder's sign,
// in case a file dialog opens under it; no blank either, which would press a button that
// has the focus.
const std::string kGarbageCharacters = "abcdefxyzABCXYZ0123456789-+.,;:'\"!@#$%^&*()_=[]{}|<>?";

}  // namespace

int Generator::Pick(int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random_);
}

bool Generator::Chance(double p) {
    return std::bernoulli_distribution(p)(random_);
}

int64_t Generator::Gap() {
    // Mostly quick, now and then a person's pause.
    if (Chance(0.015)) return Pick(200, 1200);
    return std::min<int64_t>(
        200, static_cast<int64_t>(std::exponential_distribution<double>(1.0 / 8)(random_)));
}

void Generator::Move(int x, int y, int64_t delay) {
    Event event;
    event.atMs = delay;
    event.verb = Event::Verb::Move;
    event.x = x;
    event.y = y;
    out_.push_back(event);
}

void Generator::ClickAt(int x, int y, int button, int count) {
    Move(x, y, Gap());
    Event event;
    event.atMs = Pick(1, 15);
    event.verb = Event::Verb::Click;
    event.button = button;
    event.count = count;
    out_.push_back(event);
}

void Generator::ClickIn(const Rect& area, int button, int count) {
    ClickAt(area.x + Pick(0, std::max(0, area.w - 1)), area.y + Pick(0, std::max(0, area.h - 1)),
            button, count);
}

void Generator::Drag(const Rect& from, const Rect& to) {
    const int x0 = from.x + Pick(0, std::max(0, from.w - 1));
    const int y0 = from.y + Pick(0, std::max(0, from.h - 1));
    const int x1 = to.x + Pick(0, std::max(0, to.w - 1));
    const int y1 = to.y + Pick(0, std::max(0, to.h - 1));
    const int button = Chance(0.85) ? 1 : 3;
    Move(x0, y0, Gap());
    Event press;
    press.atMs = Pick(1, 15);
    press.verb = Event::Verb::Press;
    press.button = button;
    out_.push_back(press);
    const int steps = Pick(1, 5);
    for (int i = 1; i <= steps; ++i) {
        Move(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps, Pick(2, 20));
    }
    Event release = press;
    release.atMs = Pick(2, 30);
    release.verb = Event::Verb::Release;
    out_.push_back(release);
}

void Generator::WheelAt(int x, int y) {
    Move(x, y, Gap());
    Event event;
    event.atMs = Pick(1, 15);
    event.verb = Event::Verb::Wheel;
    event.count = Chance(0.5) ? Pick(1, 5) : -Pick(1, 5);
    out_.push_back(event);
}

void Generator::Key(const std::string& keys) {
    Event event;
    event.atMs = Gap();
    event.verb = Event::Verb::Key;
    event.text = keys;
    out_.push_back(event);
}

void Generator::Text(const std::string& text) {
    Event event;
    event.atMs = Gap();
    event.verb = Event::Verb::Text;
    event.text = text;
    out_.push_back(event);
}

std::string Generator::Number() {
    static const std::vector<std::string> kEdges = {
        "0",     "1",     "-1",       "255", "256",  "32767",      "32768", "-32768", "-32769",
        "65535", "65536", "99999999", "100", "-100", "1.5",        "-0.5",  "1e3",    "0x10",
        "007",   "+12",   "1,2",      "12a", "-",    "2147483648", "-0",    "50",     "33.3",
    };
    if (Chance(0.4)) return OneOf(kEdges);
    return std::to_string(Pick(-2000, 9000));
}

std::string Generator::Garbage() {
    std::string text;
    const int length = Pick(1, 12);
    for (int i = 0; i < length; ++i) {
        text += kGarbageCharacters[static_cast<size_t>(
            Pick(0, static_cast<int>(kGarbageCharacters.size()) - 1))];
    }
    // Two dots in a row would name the folder above in a file dialog.
    for (size_t at = text.find(".."); at != std::string::npos; at = text.find("..")) {
        text[at] = '_';
    }
    return text;
}

std::string Generator::FileName(const Scene& scene) {
    if (!scene.files.empty() && Chance(0.5)) return OneOf(scene.files);
    static const std::string kLetters = "abcdefghijklmnopqrstuvwxyz0123456789_-";
    std::string name;
    const int length = Pick(1, 8);
    for (int i = 0; i < length; ++i) {
        name += kLetters[static_cast<size_t>(Pick(0, static_cast<int>(kLetters.size()) - 1))];
    }
    const int suffix = Pick(0, 3);
    if (suffix == 1) name += ".bin";
    if (suffix == 2) name += ".csv";
    return name;
}

std::vector<Event> Generator::Next(const Scene& scene) {
    out_.clear();
    Box(scene);
    if (!out_.empty()) return out_;
    if (scene.popup != nullptr && Chance(0.9)) {
        InPopup(scene);
    } else if (scene.dialog != nullptr && scene.dialog->kind == ToolWindow::Kind::FileDialog) {
        InFileDialog(scene);
    } else if (scene.dialog != nullptr && Chance(0.9)) {
        InDialog(scene);
    } else if (scene.graph != nullptr && Chance(0.25)) {
        InGraph(scene);
    } else if (scene.main != nullptr) {
        InMainWindow(scene);
    }
    return out_;
}

void Generator::Box(const Scene& scene) {
    if (scene.boxOn) {
        if (!Chance(0.004)) return;
        Event event;
        event.atMs = Gap();
        if (Chance(0.3)) {
            // Another box behind the same name at once: the port hangs up and comes back.
            event.verb = Event::Verb::BoxOn;
        } else {
            event.verb = Event::Verb::BoxOff;
            boxBackAtMs_ = scene.nowMs + Pick(300, 8000);
        }
        if (event.verb == Event::Verb::BoxOn) {
            event.text = Chance(0.5) ? "30012345" : (Chance(0.5) ? "39999999" : "20012345");
            event.liveIntervalUs =
                Chance(0.7) ? 50000 : OneOf(std::vector<int64_t>{0, 1000, 10000});
        }
        out_.push_back(event);
        return;
    }
    if (scene.nowMs < boxBackAtMs_) return;
    Event event;
    event.atMs = Gap();
    event.verb = Event::Verb::BoxOn;
    event.text = Chance(0.6) ? "30012345" : (Chance(0.6) ? "39999999" : "20012345");
    event.liveIntervalUs = Chance(0.7) ? 50000 : OneOf(std::vector<int64_t>{0, 1000, 10000});
    out_.push_back(event);
}

void Generator::InMainWindow(const Scene& scene) {
    const Rect& window = scene.main->area;
    const auto inWindow = [&](const Rect& r) {
        return Rect{window.x + r.x, window.y + r.y, r.w, r.h};
    };
    const int roll = Pick(0, 999);
    if (roll < 150) {
        int total = 0;
        for (const Place& place : kButtons) total += place.weight;
        int pick = Pick(0, total - 1);
        for (const Place& place : kButtons) {
            if (pick < place.weight) {
                ClickIn(inWindow(place.area));
                break;
            }
            pick -= place.weight;
        }
    } else if (roll < 300) {
        ClickIn(inWindow(OneOf(kTables)), 1, Chance(0.15) ? 2 : 1);
    } else if (roll < 340) {
        ClickIn(window, 1, Chance(0.1) ? 2 : 1);
    } else if (roll < 390) {
        ClickIn(inWindow(Chance(0.85) ? OneOf(kTables) : kCharts), 3);
    } else if (roll < 520) {
        Key(OneOf(kShortcuts));
    } else if (roll < 610) {
        Key(OneOf(kKeys));
    } else if (roll < 710) {
        Text(Chance(0.7) ? Number() : Garbage());
        if (Chance(0.5)) Key(Chance(0.8) ? "Return" : "Tab");
    } else if (roll < 750) {
        const Rect& over = Chance(0.7) ? inWindow(OneOf(kTables)) : window;
        WheelAt(over.x + Pick(0, over.w - 1), over.y + Pick(0, over.h - 1));
    } else if (roll < 800) {
        const Rect table = inWindow(OneOf(kTables));
        Drag(table, Chance(0.8) ? table : window);
    } else if (roll < 825) {
        ClickIn(inWindow(Chance(0.5) ? kCharts : kFileList), 1, 2);
    } else if (roll < 875) {
        // The port: typed into the list's field, or picked from the list.
        if (Chance(0.6)) {
            ClickIn(inWindow(kPortText));
            Key("ctrl+a");
            Event port;
            port.atMs = Gap();
            port.verb = Event::Verb::Port;
            out_.push_back(port);
            if (Chance(0.3)) Key("Return");
        } else {
            ClickIn(inWindow(kPortArrow));
        }
    } else {
        // What moves bytes: Connect, Download, Dyno log, Send, the program buttons.
        static const std::vector<int> kLinkButtons = {0, 0, 0, 0, 3, 3, 3, 5, 5, 5, 4, 11, 11};
        ClickIn(inWindow(kButtons[static_cast<size_t>(OneOf(kLinkButtons))].area));
    }
}

void Generator::InGraph(const Scene& scene) {
    const Rect& window = scene.graph->area;
    // The chart above, its legend, the row of buttons and two lines of text below them.
    const Rect chart{window.x + 15, window.y + 15, std::max(1, window.w - 30),
                     std::max(1, window.h - 130)};
    const Rect buttons{window.x + 6, window.y + window.h - 70, 420, 24};
    const int roll = Pick(0, 99);
    if (roll < 35) {
        ClickIn(buttons);
    } else if (roll < 55) {
        WheelAt(chart.x + Pick(0, chart.w - 1), chart.y + Pick(0, chart.h - 1));
    } else if (roll < 70) {
        Drag(chart, chart);
    } else if (roll < 85) {
        ClickIn(chart, Chance(0.5) ? 3 : 1);
    } else if (roll < 92) {
        ClickIn(window);
    } else {
        Key(Chance(0.5) ? "ctrl+g" : OneOf(kKeys));
    }
}

void Generator::InPopup(const Scene& scene) {
    if (Chance(0.6)) {
        Key(OneOf(kMenuKeys));
    } else {
        ClickIn(scene.popup->area);
    }
}

void Generator::InDialog(const Scene& scene) {
    const int roll = Pick(0, 99);
    if (roll < 30) {
        Key("Return");
    } else if (roll < 55) {
        Key("Escape");
    } else if (roll < 80) {
        if (Chance(0.5)) Key("ctrl+a");
        Text(Chance(0.8) ? Number() : Garbage());
        if (Chance(0.6)) Key("Return");
    } else if (roll < 95) {
        ClickIn(scene.dialog->area);
    } else {
        Key(Chance(0.5) ? "Tab" : "space");
    }
}

void Generator::InFileDialog(const Scene& scene) {
    const int roll = Pick(0, 99);
    if (roll < 50) {
        Text(FileName(scene));
        Key("Return");
    } else if (roll < 85) {
        Key("Escape");
    } else if (roll < 92) {
        Key("Return");
    } else {
        Text(FileName(scene));
    }
}
