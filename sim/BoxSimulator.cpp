#include "BoxSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

using namespace std::chrono_literals;

namespace {

// Start, 8 data bits, stop: 10 bits on the wire per byte.
constexpr int kBitsPerByte = 10;
// While bytes are in flight the thread wakes this often and writes what is due.
constexpr auto kTick = 1ms;
constexpr auto kIdleWait = 50ms;
// Before closing for a hang-up, the bytes already written are left to the reader: the
// kernel drops unread input when the master closes. The flip buffer needs a moment to
// show them as pending; a reader that never reads is given up on.
constexpr auto kDrainSettle = 5ms;
constexpr auto kDrainBlind = 100ms;
constexpr auto kDrainLimit = 1s;

std::string SystemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

BoxSimulator::BoxSimulator() : BoxSimulator(BoxSimOptions{}) {}

BoxSimulator::BoxSimulator(BoxSimOptions options)
    : options_(std::move(options)),
      contents_(DefaultBoxContents(options_.serial)),
      live_(options_.liveRpmLow, options_.liveRpmHigh, options_.liveRpmStep) {}

BoxSimulator::~BoxSimulator() {
    Stop();
}

bool BoxSimulator::Start() {
    if (thread_.joinable()) return true;
    std::lock_guard lock(mutex_);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) {
        error_ = SystemError("pipe2");
        return false;
    }
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];
    if (!OpenPort()) {
        CloseFd(wakeRead_);
        CloseFd(wakeWrite_);
        return false;
    }
    stop_ = false;
    thread_ = std::thread(&BoxSimulator::Run, this);
    return true;
}

void BoxSimulator::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        Wake();
    }
    thread_.join();
    std::lock_guard lock(mutex_);
    ClosePort();
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
    liveOn_ = false;
    reopenAt_.reset();
}

bool BoxSimulator::Running() const {
    return thread_.joinable();
}

std::string BoxSimulator::PortPath() const {
    std::lock_guard lock(mutex_);
    return path_;
}

std::string BoxSimulator::LastError() const {
    std::lock_guard lock(mutex_);
    return error_;
}

BoxContents BoxSimulator::Contents() const {
    std::lock_guard lock(mutex_);
    return contents_;
}

void BoxSimulator::SetContents(const BoxContents& contents) {
    std::lock_guard lock(mutex_);
    contents_ = contents;
    contents_.serial.resize(kSerialLength, '0');
}

BoxSimFaults BoxSimulator::Faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void BoxSimulator::SetFaults(const BoxSimFaults& faults) {
    std::lock_guard lock(mutex_);
    if (faults.silenceFrom != faults_.silenceFrom) silenced_ = false;
    faults_ = faults;
    Wake();
}

void BoxSimulator::SetPacing(bool on) {
    std::lock_guard lock(mutex_);
    options_.pacing = on;
}

void BoxSimulator::SetLiveInterval(std::chrono::microseconds interval) {
    std::lock_guard lock(mutex_);
    options_.liveInterval = interval;
}

std::chrono::nanoseconds BoxSimulator::ByteTime() const {
    std::lock_guard lock(mutex_);
    return std::chrono::nanoseconds(1'000'000'000LL * kBitsPerByte /
                                    std::max<uint32_t>(options_.baudRate, 1));
}

std::chrono::nanoseconds BoxSimulator::ByteTimeLocked() const {
    if (!options_.pacing) return 0ns;
    return std::chrono::nanoseconds(1'000'000'000LL * kBitsPerByte /
                                    std::max<uint32_t>(options_.baudRate, 1));
}

bool BoxSimulator::LiveOn() const {
    std::lock_guard lock(mutex_);
    return liveOn_;
}

std::vector<LiveSample> BoxSimulator::LiveSent() const {
    std::lock_guard lock(mutex_);
    return liveSent_;
}

std::vector<ReceivedCommand> BoxSimulator::Received() const {
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<ReceivedByte> BoxSimulator::ReceivedBytes() const {
    std::lock_guard lock(mutex_);
    return bytes_;
}

size_t BoxSimulator::HangUps() const {
    std::lock_guard lock(mutex_);
    return hangUps_;
}

void BoxSimulator::ClearLogs() {
    std::lock_guard lock(mutex_);
    commands_.clear();
    bytes_.clear();
    liveSent_.clear();
}

bool BoxSimulator::WaitForReceived(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return received_.wait_for(lock, timeout, [&] { return commands_.size() >= count; });
}

bool BoxSimulator::OpenPort() {
    int m = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) {
        error_ = SystemError("posix_openpt");
        return false;
    }
    char name[128];
    termios tio{};
    if (::grantpt(m) != 0 || ::unlockpt(m) != 0 || ::ptsname_r(m, name, sizeof name) != 0 ||
        ::tcgetattr(m, &tio) != 0) {
        error_ = SystemError("pseudo-terminal setup");
        ::close(m);
        return false;
    }
    // No echo, no line editing, no character translation: the box's bytes are binary.
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    if (::tcsetattr(m, TCSANOW, &tio) != 0 ||
        ::fcntl(m, F_SETFL, ::fcntl(m, F_GETFL) | O_NONBLOCK) != 0) {
        error_ = SystemError("pseudo-terminal raw mode");
        ::close(m);
        return false;
    }
    master_ = m;
    path_ = name;
    toolAway_ = false;
    error_.clear();
    return true;
}

void BoxSimulator::ClosePort() {
    CloseFd(master_);
    CloseFd(drainFd_);
    path_.clear();
    rxPending_.clear();
    command_.reset();
    commandData_.clear();
    tx_.clear();
    held_.clear();
    liveQueued_.clear();
}

void BoxSimulator::HangUp(SimClock::time_point now) {
    ClosePort();
    liveOn_ = false;
    ++hangUps_;
    if (faults_.reopenAfter) reopenAt_ = now + *faults_.reopenAfter;
}

void BoxSimulator::Wake() {
    if (wakeWrite_ < 0) return;
    const char b = 1;
    [[maybe_unused]] auto n = ::write(wakeWrite_, &b, 1);
}

bool BoxSimulator::Busy() const {
    return !tx_.empty() || !rxPending_.empty() || !held_.empty() || liveOn_ ||
           reopenAt_.has_value();
}

void BoxSimulator::Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        const int fd = master_;
        // While the tool is away the master reports a hang-up at once on every poll, so it
        // is looked at once per tick instead of waited on.
        const bool watchMaster = fd >= 0 && !toolAway_;
        const auto wait = Busy() || toolAway_ ? std::chrono::nanoseconds(kTick) : kIdleWait;
        lock.unlock();

        pollfd fds[2] = {{wakeRead_, POLLIN, 0}, {fd, POLLIN, 0}};
        timespec timeout{0, static_cast<long>(std::chrono::nanoseconds(wait).count())};
        ::ppoll(fds, watchMaster ? 2 : 1, &timeout, nullptr);
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
        if (fd >= 0 && !watchMaster) {
            fds[1].revents = 0;
            ::poll(&fds[1], 1, 0);
        }

        lock.lock();
        const auto now = SimClock::now();
        if (master_ >= 0 && master_ == fd) {
            toolAway_ = (fds[1].revents & POLLHUP) != 0;
            // A command written just before the tool closed is still there to read.
            ReadInput(now);
        }
        ProcessArrived(now);
        if (master_ < 0 && reopenAt_ && now >= *reopenAt_) {
            reopenAt_.reset();
            OpenPort();
        }
        SendLive(now);
        if (!held_.empty() && faults_.mergeMessages <= held_.size()) ReleaseHeld(now);
        Flush(now);
    }
}

void BoxSimulator::ReadInput(SimClock::time_point now) {
    const auto byteTime = ByteTimeLocked();
    uint8_t buffer[4096];
    for (;;) {
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) {
            // A byte read now started on the wire no earlier than now, and no earlier
            // than the end of the byte before it.
            SimClock::time_point at = now;
            if (byteTime > 0ns) {
                at = std::max(now, rxLineFree_) + byteTime;
                rxLineFree_ = at;
            }
            rxPending_.push_back({buffer[i], at});
            bytes_.push_back({buffer[i], at});
        }
    }
}

void BoxSimulator::ProcessArrived(SimClock::time_point now) {
    while (!rxPending_.empty() && rxPending_.front().at <= now) {
        const RxItem item = rxPending_.front();
        rxPending_.pop_front();
        if (!command_) {
            command_ = item.value;
            commandData_.clear();
        } else {
            commandData_.push_back(item.value);
        }
        if (commandData_.size() == CommandDataLength(*command_)) HandleCommand(item.at);
    }
}

void BoxSimulator::HandleCommand(SimClock::time_point at) {
    const uint8_t code = *command_;
    command_.reset();
    commands_.push_back({code, commandData_, at});
    received_.notify_all();
    if (faults_.silenceFrom && *faults_.silenceFrom == code) silenced_ = true;

    BoxAnswer answer = HandleBoxCommand(contents_, code, commandData_);
    if ((code == Cmd::WriteImage2 || code == Cmd::WriteImage3) && faults_.wrongImageByte) {
        std::vector<uint8_t> image = contents_.EditionImage();
        if (*faults_.wrongImageByte < image.size()) ++image[*faults_.wrongImageByte];
        contents_.SetEditionImage(image);
    }
    if ((code == Cmd::WriteConfig2 || code == Cmd::WriteConfig3) && faults_.wrongConfigValue &&
        *faults_.wrongConfigValue < contents_.config.size()) {
        ++contents_.config[*faults_.wrongConfigValue];
    }
    if (answer.live == LiveSwitch::On && !liveOn_) {
        liveOn_ = true;
        nextLive_ = at;
    } else if (answer.live == LiveSwitch::Off) {
        liveOn_ = false;
    }
    if (!silenced_ && !answer.response.empty()) QueueMessage(answer.response, nullptr, at);
}

void BoxSimulator::SendLive(SimClock::time_point now) {
    if (!liveOn_ || silenced_ || master_ < 0 || toolAway_) return;
    const auto interval = options_.liveInterval;
    // Keep at most two messages waiting for the wire, so a back-to-back stream keeps the
    // line busy without piling up behind a reader that has stopped reading.
    while (nextLive_ <= now && tx_.size() < 2 * kLiveMessageLength) {
        const bool threeChannel = contents_.Edition() == '3';
        const LiveSample sample = live_.Next(threeChannel);
        const auto message = EncodeLiveMessage(sample);
        const size_t length =
            options_.shortLiveMessages && !threeChannel ? kLiveMessageLength2 : message.size();
        QueueMessage({message.begin(), message.begin() + static_cast<std::ptrdiff_t>(length)},
                     &sample, nextLive_);
        nextLive_ += interval;
        if (interval > 0us && nextLive_ + interval < now) nextLive_ = now;
    }
}

void BoxSimulator::QueueMessage(const std::vector<uint8_t>& message, const LiveSample* sample,
                                SimClock::time_point at) {
    if (master_ < 0) return;
    std::vector<TxItem> items;
    items.reserve(faults_.garbageBytes + message.size() + faults_.trailingBytes + 1);
    for (size_t i = 0; i < faults_.garbageBytes; ++i)
        items.push_back({.value = faults_.garbageByte, .readyAt = at});
    for (uint8_t b : message) items.push_back({.value = b, .readyAt = at});
    if (sample) {
        items.back().liveEnd = true;
        liveQueued_.push_back(*sample);
    }
    for (size_t i = 0; i < faults_.trailingBytes; ++i)
        items.push_back({.value = faults_.garbageByte, .readyAt = at});
    if (faults_.hangUpAfter && (!faults_.hangUpCode || *faults_.hangUpCode == message[0])) {
        const size_t pos = faults_.garbageBytes + std::min(*faults_.hangUpAfter, message.size());
        items.insert(items.begin() + static_cast<std::ptrdiff_t>(pos),
                     TxItem{.hangUp = true, .readyAt = at});
        faults_.hangUpAfter.reset();
        faults_.hangUpCode.reset();
    }
    held_.push_back(std::move(items));
    if (held_.size() >= faults_.mergeMessages) ReleaseHeld(at);
}

void BoxSimulator::ReleaseHeld(SimClock::time_point at) {
    size_t count = 0;
    for (auto& message : held_) {
        for (TxItem item : message) {
            if (!item.hangUp) {
                item.chunkStart =
                    faults_.chunkSize > 0 && count > 0 && count % faults_.chunkSize == 0;
                ++count;
            }
            item.readyAt = std::max(item.readyAt, at);
            tx_.push_back(item);
        }
    }
    held_.clear();
}

void BoxSimulator::Flush(SimClock::time_point now) {
    if (master_ < 0 || tx_.empty()) return;
    if (toolAway_) {
        // A message cut short here counts as lost whole; the hang-up it may carry happens.
        const bool hangUp = std::any_of(tx_.begin(), tx_.end(), [](auto& i) { return i.hangUp; });
        tx_.clear();
        held_.clear();
        liveQueued_.clear();
        if (hangUp) HangUp(now);
        return;
    }
    const auto byteTime = ByteTimeLocked();
    const auto gap = std::chrono::duration_cast<std::chrono::nanoseconds>(faults_.chunkGap);

    // Every byte leaves at its own absolute deadline: the end of its wire time after the
    // byte before it. Waking late writes everything that has come due at once, so the
    // average rate stays the wire's.
    std::vector<uint8_t> batch;
    std::vector<SimClock::time_point> due;
    bool hangUpNext = false;
    SimClock::time_point lineFree = txLineFree_;
    for (const TxItem& item : tx_) {
        SimClock::time_point start = std::max(item.readyAt, lineFree);
        if (item.hangUp) {
            hangUpNext = start <= now;
            break;
        }
        if (item.chunkStart) {
            // The piece before goes out in a write of its own, and the reader gets a real
            // pause before the next one.
            if (!batch.empty() || now < lastWrite_ + gap) break;
            start = std::max(start, lineFree + gap);
        }
        const auto end = start + byteTime;
        if (end > now) break;
        batch.push_back(item.value);
        due.push_back(end);
        lineFree = end;
    }

    if (!batch.empty()) {
        ssize_t written = ::write(master_, batch.data(), batch.size());
        if (written <= 0) return;  // the reader's buffer is full: try again next tick
        for (ssize_t i = 0; i < written; ++i) {
            if (tx_.front().liveEnd && !liveQueued_.empty()) {
                liveSent_.push_back(liveQueued_.front());
                liveQueued_.pop_front();
            }
            tx_.pop_front();
        }
        txLineFree_ = due[static_cast<size_t>(written) - 1];
        lastWrite_ = now;
        return;  // a hang-up waits for the reader to take these bytes first
    }

    if (hangUpNext) {
        // The tool's unread input is watched through a slave handle of our own; when the
        // system refuses one (another user's exclusive port), a fixed pause stands in.
        if (drainFd_ < 0)
            drainFd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        int pending = 0;
        if (drainFd_ < 0 || ::ioctl(drainFd_, TIOCINQ, &pending) != 0) pending = -1;
        const auto quiet = now - lastWrite_;
        if ((pending == 0 && quiet >= kDrainSettle) || (pending < 0 && quiet >= kDrainBlind) ||
            quiet >= kDrainLimit)
            HangUp(now);
    }
}
