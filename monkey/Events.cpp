#include "Events.h"

#include <istream>
#include <sstream>

namespace {

struct VerbName {
    Event::Verb verb;
    const char* name;
};

constexpr VerbName kVerbs[] = {
    {Event::Verb::Move, "move"},      {Event::Verb::Click, "click"},
    {Event::Verb::Press, "press"},    {Event::Verb::Release, "release"},
    {Event::Verb::Wheel, "wheel"},    {Event::Verb::Key, "key"},
    {Event::Verb::Text, "text"},      {Event::Verb::Port, "port"},
    {Event::Verb::BoxOff, "box-off"}, {Event::Verb::BoxOn, "box-on"},
};

const char* NameOf(Event::Verb verb) {
    for (const VerbName& entry : kVerbs) {
        if (entry.verb == verb) return entry.name;
    }
    return "?";
}

}  // namespace

std::string FormatEvent(const Event& event) {
    std::ostringstream out;
    out << event.atMs << ' ' << NameOf(event.verb);
    switch (event.verb) {
        case Event::Verb::Move:
            out << ' ' << event.x << ' ' << event.y;
            break;
        case Event::Verb::Click:
            out << ' ' << event.button << ' ' << event.count;
            break;
        case Event::Verb::Press:
        case Event::Verb::Release:
            out << ' ' << event.button;
            break;
        case Event::Verb::Wheel:
            out << ' ' << event.count;
            break;
        case Event::Verb::Key:
        case Event::Verb::Text:
            out << ' ' << event.text;
            break;
        case Event::Verb::BoxOn:
            out << ' ' << event.text << ' ' << event.liveIntervalUs;
            break;
        case Event::Verb::Port:
        case Event::Verb::BoxOff:
            break;
    }
    return out.str();
}

bool ParseEvent(const std::string& line, Event& event, std::string& error) {
    std::istringstream in(line);
    std::string verb;
    if (!(in >> event.atMs >> verb) || event.atMs < 0) {
        error = "expected a time in milliseconds and a verb";
        return false;
    }
    bool known = false;
    for (const VerbName& entry : kVerbs) {
        if (verb == entry.name) {
            event.verb = entry.verb;
            known = true;
        }
    }
    if (!known) {
        error = "unknown verb \"" + verb + "\"";
        return false;
    }
    bool ok = true;
    switch (event.verb) {
        case Event::Verb::Move:
            ok = static_cast<bool>(in >> event.x >> event.y);
            break;
        case Event::Verb::Click:
            ok = static_cast<bool>(in >> event.button >> event.count) && event.count >= 1 &&
                 event.count <= 3;
            break;
        case Event::Verb::Press:
        case Event::Verb::Release:
            ok = static_cast<bool>(in >> event.button);
            break;
        case Event::Verb::Wheel:
            ok = static_cast<bool>(in >> event.count);
            break;
        case Event::Verb::Key:
            ok = static_cast<bool>(in >> event.text);
            break;
        case Event::Verb::Text: {
            // Everything after the one space behind the verb, spaces included.
            const size_t at = line.find(" text ");
            ok = at != std::string::npos;
            if (ok) event.text = line.substr(at + 6);
            break;
        }
        case Event::Verb::BoxOn:
            ok = static_cast<bool>(in >> event.text >> event.liveIntervalUs) &&
                 event.text.size() == 8 && event.liveIntervalUs >= 0;
            break;
        case Event::Verb::Port:
        case Event::Verb::BoxOff:
            break;
    }
    if (ok && (event.verb == Event::Verb::Click || event.verb == Event::Verb::Press ||
               event.verb == Event::Verb::Release)) {
        ok = event.button >= 1 && event.button <= 3;
    }
    if (!ok) error = "wrong arguments for \"" + verb + "\"";
    return ok;
}

bool ReadEvents(std::istream& in, std::vector<Event>& events, std::string& error) {
    std::string line;
    int number = 0;
    int64_t last = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        Event event;
        std::string why;
        if (!ParseEvent(line, event, why)) {
            error = "line " + std::to_string(number) + ": " + why;
            return false;
        }
        if (event.atMs < last) {
            error = "line " + std::to_string(number) + ": the time goes back";
            return false;
        }
        last = event.atMs;
        events.push_back(std::move(event));
    }
    return true;
}
