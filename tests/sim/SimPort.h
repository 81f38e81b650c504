#pragma once
// The tool's side of the pseudo-terminal, with plain POSIX calls: open the slave path,
// write commands, read what the box sends.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

class SimPort {
  public:
    explicit SimPort(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~SimPort() {
        if (fd_ >= 0) ::close(fd_);
    }
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // True once a read has seen the box hang up (end of file or EIO).
    bool HungUp() const { return hungUp_; }

    void Write(const Bytes& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    // Reads until count bytes have come, the box hangs up, or the time limit (a guard
    // against hanging, not a speed requirement) runs out.
    Bytes Read(size_t count, std::chrono::milliseconds limit = 5s) {
        Bytes out;
        const auto end = std::chrono::steady_clock::now() + limit;
        while (out.size() < count && !hungUp_) {
            const auto left = end - std::chrono::steady_clock::now();
            if (left <= 0s) break;
            ReadSome(out, count - out.size(),
                     std::chrono::duration_cast<std::chrono::milliseconds>(left) + 1ms);
        }
        return out;
    }

    // Everything that arrives until the line has been quiet for the given time.
    Bytes ReadUntilQuiet(std::chrono::milliseconds quiet = 150ms) {
        Bytes out;
        while (!hungUp_ && ReadSome(out, 65536, quiet)) {
        }
        return out;
    }

    Bytes Exchange(const Bytes& command, size_t answerSize) {
        Write(command);
        return Read(answerSize);
    }

  private:
    // One poll and read; false when nothing came within the wait.
    bool ReadSome(Bytes& out, size_t most, std::chrono::milliseconds wait) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0) return false;
        uint8_t buffer[4096];
        ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, most));
        if (n <= 0) {
            if (n == 0 || errno == EIO) hungUp_ = true;
            return false;
        }
        out.insert(out.end(), buffer, buffer + n);
        return true;
    }

    int fd_;
    bool hungUp_ = false;
};

inline uint16_t WordAt(const Bytes& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

inline Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
