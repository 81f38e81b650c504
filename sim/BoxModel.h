#pragma once
// What the simulated box stores and how it answers one complete command. No I/O and no
// timing here: BoxSimulator feeds the commands it has assembled from the wire and sends
// the answers back.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Protocol.h"

constexpr size_t kConfigValues = kConfigRowSize3 / 2;

struct BoxContents {
    // Eight characters; the first is the edition: '2' answers the 2-channel dialect, any
    // other character the 3-channel dialect.
    std::string serial;
    // Always held in the 3-channel layout. A 2-channel box reads and writes the first 256
    // bytes (CH1 and CH2) of each 416-byte program block, so a box whose serial number
    // changes edition keeps its CH1 and CH2 maps.
    std::array<uint8_t, kImageSize3> image{};
    // A 2-channel box exchanges the low byte of value 0 only.
    std::array<uint16_t, kConfigValues> config{};
    uint8_t startTime = 0;  // minutes
    uint8_t pedal = 0;      // 0 "Lazy", 1 "Normal", 2 "Insane"
    uint8_t runningProgram = 0;
    std::array<uint8_t, kSentDataSize> sentData{};

    char Edition() const { return DialectOf(serial); }
    // The image as the box's edition sends it: 2304 or 3744 bytes.
    std::vector<uint8_t> EditionImage() const;
    void SetEditionImage(std::span<const uint8_t> bytes);
};

// A box fresh from the bench: RPM rows 1000..8500 in steps of 500, correction curves,
// pressure and percentage rows that differ per program and channel, a configuration row,
// start time 2 minutes, pedal "Normal", program 1 running, and SENT records of two
// pressure sensors.
BoxContents DefaultBoxContents(const std::string& serial);

// Writes one SENT record into a channel's block (channel 0 or 1, index 0..63).
void PutSentRecord(BoxContents& contents, int channel, size_t index, uint8_t id, uint16_t value);
// Two OEM code characters (0x20..0x5F each) packed into 6 bits each, first in the low bits.
uint16_t PackOemChars(char first, char second);

enum class LiveSwitch { Unchanged, On, Off };

struct BoxAnswer {
    std::vector<uint8_t> response;  // empty: the box answers nothing
    LiveSwitch live = LiveSwitch::Unchanged;
};

// Carries out one complete command on the contents and returns the answer. Commands of
// the other edition's dialect and unknown codes are ignored (their data bytes have been
// consumed by the caller, so the stream stays in step).
BoxAnswer HandleBoxCommand(BoxContents& contents, uint8_t code, std::span<const uint8_t> data);

// The engine as the live stream shows it: RPM sweeping up and down between two limits,
// readings rising with RPM plus a little deterministic noise, temperatures warming up
// slowly.
class LiveProfile {
  public:
    LiveProfile(uint16_t rpmLow, uint16_t rpmHigh, uint16_t rpmStep);
    LiveSample Next(bool threeChannel);

  private:
    uint16_t rpmLow_;
    uint16_t rpmHigh_;
    uint16_t rpmStep_;
    int rpm_;
    int direction_ = 1;
    uint32_t noise_ = 12345;
    uint32_t count_ = 0;
};
