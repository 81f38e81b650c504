#pragma once
// A box on a pseudo-terminal. The simulator owns the master side and runs on its own
// thread; the tool opens the slave side (PortPath(), e.g. /dev/pts/7) as its serial port.
// Every method may be called from any thread.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BoxModel.h"

using SimClock = std::chrono::steady_clock;

struct BoxSimOptions {
    // The first character chooses the edition: '2' 2-channel, otherwise 3-channel.
    std::string serial = "30012345";
    // Model the wire in both directions: 10 bits per byte at this rate (115200 baud gives
    // 86.8 us per byte). Off: bytes move as fast as the pseudo-terminal takes them.
    bool pacing = true;
    uint32_t baudRate = 115200;
    // Time between the starts of two live messages; 0 sends them back to back, at the
    // wire's maximum rate when pacing is on.
    std::chrono::microseconds liveInterval{50000};
    // A 2-channel box sends its live messages without the CH3 word: 11 bytes instead of
    // 13 (a 3-channel box always sends 13).
    bool shortLiveMessages = false;
    // The live stream's RPM sweep.
    uint16_t liveRpmLow = 800;
    uint16_t liveRpmHigh = 8800;
    uint16_t liveRpmStep = 50;
};

// Misbehaviour, changeable at any time with SetFaults. A "message" is anything the box
// sends: a response, an ACK or a live data message.
struct BoxSimFaults {
    // When a command with this code arrives, the box goes silent: it answers neither this
    // command nor any later one, and the live stream stops sending. Commands are still
    // received, logged and stored. Setting a different value (or none) ends the silence.
    std::optional<uint8_t> silenceFrom;
    // This many garbageByte bytes go out before every message.
    size_t garbageBytes = 0;
    uint8_t garbageByte = 0xEE;
    // This many garbageByte bytes follow every message at once, so that a reader gets them
    // in the same chunk as the message's end (an ACK merged with the next byte).
    size_t trailingBytes = 0;
    // A box that stores a write wrongly: that byte of an uploaded image, or that value of a
    // written configuration, is kept one higher than sent. The ACK comes as usual.
    std::optional<size_t> wrongImageByte;
    std::optional<size_t> wrongConfigValue;
    // Every message leaves in pieces of this many bytes with the line idle for chunkGap
    // in between (0: whole).
    size_t chunkSize = 0;
    std::chrono::microseconds chunkGap{3000};
    // Messages are held back until this many are waiting, then leave together, back to
    // back in one write (0 or 1: each leaves at once). Lowering it releases what is held.
    size_t mergeMessages = 0;
    // Hang up after this many bytes of the next message whose code byte is hangUpCode (any
    // message when unset): the master side closes, the tool sees the port vanish. Counted
    // from the message's code byte, garbage not included. One-shot: both fields are cleared
    // when the hang-up is armed. A hang-up also stops the live stream.
    std::optional<size_t> hangUpAfter;
    std::optional<uint8_t> hangUpCode;
    // After a hang-up, open a fresh pseudo-terminal after this delay. Its path differs
    // from the old one: read PortPath() again.
    std::optional<std::chrono::milliseconds> reopenAfter;
};

// One command as the box assembled it, at the time its last byte arrived.
struct ReceivedCommand {
    uint8_t code = 0;
    std::vector<uint8_t> data;
    SimClock::time_point at;
};

// One byte from the tool, at the time it arrived: the modelled end of its wire time when
// pacing is on, the time it was read otherwise.
struct ReceivedByte {
    uint8_t value = 0;
    SimClock::time_point at;
};

class BoxSimulator {
  public:
    BoxSimulator();
    explicit BoxSimulator(BoxSimOptions options);
    ~BoxSimulator();
    BoxSimulator(const BoxSimulator&) = delete;
    BoxSimulator& operator=(const BoxSimulator&) = delete;

    // Opens the pseudo-terminal and starts the box's thread. False when the system refuses
    // a pseudo-terminal; LastError() says why.
    bool Start();
    // Stops the thread and closes the port; the tool sees a hang-up. Safe to call twice.
    void Stop();
    bool Running() const;
    // The slave path, empty while no port is open (before Start, after a hang-up).
    std::string PortPath() const;
    std::string LastError() const;

    BoxContents Contents() const;
    void SetContents(const BoxContents& contents);
    BoxSimFaults Faults() const;
    void SetFaults(const BoxSimFaults& faults);
    void SetPacing(bool on);
    void SetLiveInterval(std::chrono::microseconds interval);
    // The wire time of one byte.
    std::chrono::nanoseconds ByteTime() const;

    bool LiveOn() const;
    // Live messages whose last byte has been written, in order.
    std::vector<LiveSample> LiveSent() const;
    std::vector<ReceivedCommand> Received() const;
    std::vector<ReceivedByte> ReceivedBytes() const;
    size_t HangUps() const;
    void ClearLogs();
    // Waits until at least count commands have been received; false on timeout.
    bool WaitForReceived(size_t count, std::chrono::milliseconds timeout) const;

  private:
    struct TxItem {
        uint8_t value = 0;
        bool chunkStart = false;  // the line idles for chunkGap before this byte
        bool hangUp = false;      // no byte: close the port here
        bool liveEnd = false;     // last byte of a live message
        SimClock::time_point readyAt;
    };
    struct RxItem {
        uint8_t value;
        SimClock::time_point at;
    };

    void Run();
    bool OpenPort();
    void ClosePort();
    void HangUp(SimClock::time_point now);
    void Wake();
    void ReadInput(SimClock::time_point now);
    void ProcessArrived(SimClock::time_point now);
    void HandleCommand(SimClock::time_point at);
    void SendLive(SimClock::time_point now);
    void QueueMessage(const std::vector<uint8_t>& message, const LiveSample* sample,
                      SimClock::time_point at);
    void ReleaseHeld(SimClock::time_point at);
    void Flush(SimClock::time_point now);
    bool Busy() const;
    std::chrono::nanoseconds ByteTimeLocked() const;

    mutable std::mutex mutex_;
    mutable std::condition_variable received_;
    BoxSimOptions options_;
    BoxSimFaults faults_;
    BoxContents contents_;
    LiveProfile live_;

    std::thread thread_;
    bool stop_ = false;
    int master_ = -1;
    // Nobody has the slave side open (the tool closed it): what the box sends is lost, as
    // on a real port that is closed. Only known after a first open and close.
    bool toolAway_ = false;
    int drainFd_ = -1;  // a slave handle for watching the tool's unread input
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::string path_;
    std::string error_;

    std::deque<RxItem> rxPending_;
    SimClock::time_point rxLineFree_{};
    std::optional<uint8_t> command_;
    std::vector<uint8_t> commandData_;

    std::deque<TxItem> tx_;
    std::vector<std::vector<TxItem>> held_;
    SimClock::time_point txLineFree_{};
    SimClock::time_point lastWrite_{};
    std::deque<LiveSample> liveQueued_;

    bool silenced_ = false;
    bool liveOn_ = false;
    SimClock::time_point nextLive_{};
    std::optional<SimClock::time_point> reopenAt_;

    std::vector<ReceivedCommand> commands_;
    std::vector<ReceivedByte> bytes_;
    std::vector<LiveSample> liveSent_;
    size_t hangUps_ = 0;
};
