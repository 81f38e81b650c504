#include "BoxModel.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr size_t kRowBytes = 32;

// Row r of program n (1..9) in the 3-channel layout: CH1 rows 0..3, CH2 4..7, CH3 8..11,
// FUEL% 12.
void PutRow(BoxContents& contents, int program, int row, const std::array<int16_t, 16>& values) {
    uint8_t* at = contents.image.data() + (program - 1) * kProgramBlock3 + row * kRowBytes;
    for (size_t c = 0; c < values.size(); ++c)
        WriteWord(at + 2 * c, static_cast<uint16_t>(values[c]));
}

std::vector<uint8_t> Ack() {
    return {ACK};
}

}  // namespace

std::vector<uint8_t> BoxContents::EditionImage() const {
    if (Edition() == '3') return {image.begin(), image.end()};
    std::vector<uint8_t> bytes;
    bytes.reserve(kImageSize2);
    for (int p = 0; p < 9; ++p) {
        auto block = image.begin() + p * kProgramBlock3;
        bytes.insert(bytes.end(), block, block + kProgramBlock2);
    }
    return bytes;
}

void BoxContents::SetEditionImage(std::span<const uint8_t> bytes) {
    if (Edition() == '3') {
        std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), kImageSize3), image.begin());
        return;
    }
    for (size_t p = 0; p < 9 && (p + 1) * kProgramBlock2 <= bytes.size(); ++p)
        std::copy_n(bytes.begin() + p * kProgramBlock2, kProgramBlock2,
                    image.begin() + p * kProgramBlock3);
}

void PutSentRecord(BoxContents& contents, int channel, size_t index, uint8_t id, uint16_t value) {
    uint8_t* at = contents.sentData.data() + (channel * kSentRecordsPerChannel + index) * 3;
    at[0] = id;
    WriteWord(at + 1, value);
}

uint16_t PackOemChars(char first, char second) {
    return static_cast<uint16_t>(((first - 0x20) & 0x3F) | (((second - 0x20) & 0x3F) << 6));
}

BoxContents DefaultBoxContents(const std::string& serial) {
    BoxContents contents;
    contents.serial = serial;
    contents.serial.resize(kSerialLength, '0');

    constexpr double kPi = 3.14159265358979323846;
    for (int p = 1; p <= 9; ++p) {
        for (int ch = 0; ch < 3; ++ch) {
            std::array<int16_t, 16> rpm{}, corr{}, press{}, multi{};
            for (int c = 0; c < 16; ++c) {
                rpm[c] = static_cast<int16_t>(1000 + 500 * c);
                // A hump over the mid range, slightly negative at idle, larger for the
                // higher programs.
                double amplitude = 30 + 10 * p + 5 * ch;
                corr[c] =
                    static_cast<int16_t>(std::lround(amplitude * std::sin(kPi * c / 15.0)) - 2 * p);
                press[c] = static_cast<int16_t>(300 + 40 * c + 10 * ch + p);
                multi[c] = static_cast<int16_t>(100 + 2 * p + c / 2 - ch);
            }
            PutRow(contents, p, 4 * ch + 0, rpm);
            PutRow(contents, p, 4 * ch + 1, corr);
            PutRow(contents, p, 4 * ch + 2, press);
            PutRow(contents, p, 4 * ch + 3, multi);
        }
        std::array<int16_t, 16> fuel{};
        for (int c = 0; c < 16; ++c) fuel[c] = static_cast<int16_t>(100 + (c * p) % 7 - p / 3);
        PutRow(contents, p, 12, fuel);
    }

    // Value 0 is the RPM pulses per revolution; the others have no names in the tool.
    contents.config = {2, 1500, 6500, 100, 250, 30, 0, 0, 5, 0, 0, 1200, 0, 0, 0, 40000};
    contents.startTime = 2;
    contents.pedal = 1;
    contents.runningProgram = 1;

    // Both channels carry a pressure sensor; CH2's reports a pending status code. Records
    // come in the order the sensors cycle through them, OEM characters "PS4711AX" and
    // "PS4712BX".
    struct Sensor {
        uint16_t status, revision, type, maker;
        const char* oem;
        uint16_t id1, id2;
    };
    const Sensor sensors[2] = {
        {0x000, 3, 0x03, 0x42, "PS4711AX", 0x1A2B, 0x0C0D},
        {0x014, 4, 0x0F, 0x53, "PS4712BX", 0x1A2C, 0x0C0E},
    };
    for (int ch = 0; ch < 2; ++ch) {
        const Sensor& s = sensors[ch];
        size_t i = 0;
        PutSentRecord(contents, ch, i++, 0x01, s.status);
        PutSentRecord(contents, ch, i++, 0x06, s.revision);
        PutSentRecord(contents, ch, i++, 0x03, s.type);
        PutSentRecord(contents, ch, i++, 0x05, s.maker);
        for (int k = 0; k < 4; ++k)
            PutSentRecord(contents, ch, i++, static_cast<uint8_t>(0x90 + k),
                          PackOemChars(s.oem[2 * k], s.oem[2 * k + 1]));
        // Fast-channel characteristic points and sensor identification numbers: only
        // listed raw by the tool.
        PutSentRecord(contents, ch, i++, 0x07, 0x0100);
        PutSentRecord(contents, ch, i++, 0x08, 0x0E00);
        PutSentRecord(contents, ch, i++, 0x29, s.id1);
        PutSentRecord(contents, ch, i++, 0x2A, s.id2);
    }
    return contents;
}

BoxAnswer HandleBoxCommand(BoxContents& contents, uint8_t code, std::span<const uint8_t> data) {
    if (data.size() != CommandDataLength(code)) return {};
    if (FindCommand(code, contents.Edition()) == nullptr) return {};

    BoxAnswer answer;
    std::vector<uint8_t>& r = answer.response;
    switch (code) {
        case Cmd::ReadSerial:
            r = Response(code, std::span<const uint8_t>(
                                   reinterpret_cast<const uint8_t*>(contents.serial.data()),
                                   contents.serial.size()));
            break;
        case Cmd::ReadImage2:
        case Cmd::ReadImage3:
            r = Response(code, contents.EditionImage());
            break;
        case Cmd::ReadProgram:
            // The second byte has no meaning for the tool; the box sends 0.
            r = {code, contents.runningProgram, 0};
            break;
        case Cmd::ReadConfig2:
            r = {code, static_cast<uint8_t>(contents.config[0] & 0xFF)};
            break;
        case Cmd::ReadConfig3:
            r.resize(1 + kConfigRowSize3);
            r[0] = code;
            for (size_t k = 0; k < kConfigValues; ++k) WriteWord(&r[1 + 2 * k], contents.config[k]);
            break;
        case Cmd::ReadStartTime:
            r = {code, contents.startTime};
            break;
        case Cmd::ReadPedal:
            r = {code, contents.pedal};
            break;
        case Cmd::ReadSentData:
            r = Response(code, contents.sentData);
            break;
        case Cmd::WriteSerial:
            contents.serial.assign(data.begin(), data.end());
            r = Ack();
            break;
        case Cmd::WriteImage2:
        case Cmd::WriteImage3:
            contents.SetEditionImage(data);
            r = Ack();
            break;
        case Cmd::WriteConfig2:
            contents.config[0] = data[0];
            r = Ack();
            break;
        case Cmd::WriteConfig3:
            for (size_t k = 0; k < kConfigValues; ++k) contents.config[k] = ReadWord(&data[2 * k]);
            r = Ack();
            break;
        case Cmd::WriteStartTime:
            contents.startTime = data[0];
            r = Ack();
            break;
        case Cmd::WritePedal:
            contents.pedal = data[0];
            r = Ack();
            break;
        case Cmd::SelectProgram:
            contents.runningProgram = data[0];
            r = Ack();
            break;
        case Cmd::LiveOn2:
        case Cmd::LiveOn3:
            answer.live = LiveSwitch::On;
            break;
        case Cmd::LiveOff2:
        case Cmd::LiveOff3:
            answer.live = LiveSwitch::Off;
            break;
        default:
            break;
    }
    return answer;
}

LiveProfile::LiveProfile(uint16_t rpmLow, uint16_t rpmHigh, uint16_t rpmStep)
    : rpmLow_(std::min(rpmLow, rpmHigh)),
      rpmHigh_(std::max(rpmLow, rpmHigh)),
      rpmStep_(std::max<uint16_t>(rpmStep, 1)),
      rpm_(rpmLow_) {}

LiveSample LiveProfile::Next(bool threeChannel) {
    auto noise = [this](int range) {
        noise_ = noise_ * 1103515245u + 12345u;
        return static_cast<int>((noise_ >> 16) % static_cast<uint32_t>(range));
    };
    LiveSample s;
    s.rpm = static_cast<uint16_t>(rpm_);
    s.press1 = static_cast<uint16_t>(200 + rpm_ / 16 + noise(40));
    s.press2 = static_cast<uint16_t>(180 + rpm_ / 18 + noise(40));
    s.press3 = threeChannel ? static_cast<uint16_t>(100 + rpm_ / 40 + noise(20)) : 0;
    // Coolant-like warm-up from 70 to 95 degrees, CH2 running a little cooler.
    s.temp1 = static_cast<uint16_t>(70 + std::min<uint32_t>(count_ / 40, 25));
    s.temp2 = static_cast<uint16_t>(s.temp1 - 3);
    ++count_;

    int next = rpm_ + direction_ * rpmStep_;
    if (next > rpmHigh_ || next < rpmLow_) {
        direction_ = -direction_;
        next = rpm_ + direction_ * rpmStep_;
    }
    rpm_ = std::clamp<int>(next, rpmLow_, rpmHigh_);
    return s;
}
