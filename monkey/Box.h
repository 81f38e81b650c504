#pragma once
// The simulated box behind a fixed name: a symbolic link in the run's folder that points at
// the pseudo-terminal of the box now running. The box can go away (its port hangs up and
// the link goes) and another can come back under the same name, which is what the tool's
// reconnect watches for.
#include <chrono>
#include <memory>
#include <string>

class BoxSimulator;

class BoxOnLink {
  public:
    explicit BoxOnLink(std::string link);
    ~BoxOnLink();
    BoxOnLink(const BoxOnLink&) = delete;
    BoxOnLink& operator=(const BoxOnLink&) = delete;

    // Starts a box (after stopping the one running) and points the link at it; false with
    // the reason in `error`.
    bool On(const std::string& serial, std::chrono::microseconds liveInterval, std::string& error);
    void Off();
    bool IsOn() const { return box_ != nullptr; }
    // What the boxes so far have received and sent: commands, live messages.
    size_t Commands() const;
    size_t LiveMessages() const;
    const std::string& Link() const { return link_; }

  private:
    std::string link_;
    std::unique_ptr<BoxSimulator> box_;
    size_t commands_ = 0;  // of the boxes gone
    size_t liveMessages_ = 0;
};
