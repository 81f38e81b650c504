#pragma once
// What the monkey does next, drawn at random from what the screen shows now: a person who
// clicks the buttons and table cells, uses the shortcuts, types numbers and nonsense, turns
// the wheel, drags, opens the context menus and answers the dialogs, and a box that goes
// away and comes back.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "Desk.h"
#include "Events.h"

struct Scene {
    const ToolWindow* main = nullptr;
    const ToolWindow* graph = nullptr;   // the live graph's window when shown
    const ToolWindow* dialog = nullptr;  // the topmost dialog
    const ToolWindow* popup = nullptr;   // an open menu or list
    // Names of files in the working folder that a file dialog may be given.
    std::vector<std::string> files;
    bool boxOn = true;
    int64_t nowMs = 0;
};

class Generator {
  public:
    explicit Generator(uint64_t seed) : random_(seed) {}
    // The next action's events; each one's atMs is its delay after the one before.
    std::vector<Event> Next(const Scene& scene);

  private:
    int Pick(int low, int high);  // inclusive
    bool Chance(double p);
    template <typename T>
    const T& OneOf(const std::vector<T>& items) {
        return items[static_cast<size_t>(Pick(0, static_cast<int>(items.size()) - 1))];
    }
    int64_t Gap();

    void Move(int x, int y, int64_t delay);
    void ClickAt(int x, int y, int button = 1, int count = 1);
    void ClickIn(const Rect& area, int button = 1, int count = 1);
    void Drag(const Rect& from, const Rect& to);
    void WheelAt(int x, int y);
    void Key(const std::string& keys);
    void Text(const std::string& text);

    std::string Number();
    std::string Garbage();
    std::string FileName(const Scene& scene);

    void InMainWindow(const Scene& scene);
    void InGraph(const Scene& scene);
    void InPopup(const Scene& scene);
    void InDialog(const Scene& scene);
    void InFileDialog(const Scene& scene);
    void Box(const Scene& scene);

    std::mt19937_64 random_;
    std::vector<Event> out_;
    int64_t boxBackAtMs_ = -1;
};
