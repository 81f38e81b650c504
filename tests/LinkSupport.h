#pragma once
// In-memory serial line and recorded box answers for the link tests.
#include <cstdint>
#include <string>
#include <vector>

#include "Link.h"
#include "MemoryForm.h"

// Records what the tool writes; a pause shows as a marker in the event list.
class RecordingPort : public ComPort {
  public:
    bool IsOpen() const override { return open; }
    void PutChar(uint8_t byte) override { Put(&byte, 1); }
    void PutString(const std::string& text) override {
        Put(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    void PutBlock(const uint8_t* data, size_t count) override { Put(data, count); }
    void Pause(int ms) override { events.push_back("pause " + std::to_string(ms)); }

    // The bytes written since the last call.
    std::vector<uint8_t> Take() {
        std::vector<uint8_t> taken;
        taken.swap(written);
        return taken;
    }

    bool open = true;
    std::vector<uint8_t> written;
    std::vector<std::string> events;  // "write N" and "pause N", in order

  private:
    void Put(const uint8_t* data, size_t count) {
        written.insert(written.end(), data, data + count);
        events.push_back("write " + std::to_string(count));
    }
};

// A box of one edition with known contents, answering one command at a time as the
// simulated box does.
struct BoxAnswers {
    explicit BoxAnswers(char edition);
    // The answer to a command (code and data); empty when the box stays silent.
    std::vector<uint8_t> AnswerTo(const std::vector<uint8_t>& command) const;

    char edition;
    std::string serial;
    std::vector<uint8_t> image;   // 2304 or 3744 bytes
    std::vector<uint8_t> config;  // 1 or 32 bytes
    uint8_t program = 4;
    uint8_t startTime = 7;
    uint8_t pedal = 2;
    std::vector<uint8_t> sent;  // 384 bytes
};

// The window's controls in memory with the states the real window starts with.
struct LinkFixture {
    LinkFixture();
    MemoryForm form;
    Variables vars;
    RecordingPort port;
    Link link{form, vars, port};

    // Feeds bytes as one notice of the port.
    void Receive(const std::vector<uint8_t>& bytes) {
        ReceiveBytes(link, bytes.data(), bytes.size());
    }
    // Runs a whole exchange: every command the tool writes gets the box's answer, split by
    // `split` (chunk sizes, repeated) when given. Returns the command codes in order.
    std::vector<uint8_t> Converse(const BoxAnswers& box, const std::vector<size_t>& split = {});
};
