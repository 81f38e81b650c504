#pragma once
// The monkey's events: what it sends, one line each, with the time since the run's start.
// A failing run's list is replayed as it stands, at the same times, so it is plain text:
//
//     1520 move 612 344          pointer to a point of the screen
//     1534 click 1 2             button 1 clicked twice where the pointer is
//     1560 press 1 / release 1   a button held (a drag moves between them)
//     1601 wheel -3              three notches towards the user (4: up, away)
//     1650 key ctrl+shift+a      keys by their X names, modifiers held around the last
//     1700 text 12a,5            characters typed one by one (the rest of the line)
//     1750 port                  the box's link typed, wherever the run keeps it
//     1800 box-off               the box goes away, its link with it
//     1900 box-on 30012345 50000 a box behind the link: serial number, live interval (us)
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct Event {
    enum class Verb { Move, Click, Press, Release, Wheel, Key, Text, Port, BoxOff, BoxOn };
    int64_t atMs = 0;
    Verb verb = Verb::Move;
    int x = 0;
    int y = 0;
    int button = 1;
    // Clicks of a click; notches of a wheel turn (positive away from the user).
    int count = 1;
    // The keys of a key event, the characters of a text, the serial number of a box.
    std::string text;
    int64_t liveIntervalUs = 50000;
};

std::string FormatEvent(const Event& event);
// False, with the reason in `error`, for a line that is not an event. Blank lines and
// lines starting with '#' are not passed here.
bool ParseEvent(const std::string& line, Event& event, std::string& error);
// Every event of a list; false with the line's number and reason in `error`.
bool ReadEvents(std::istream& in, std::vector<Event>& events, std::string& error);
