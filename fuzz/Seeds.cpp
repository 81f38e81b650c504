#include "Seeds.h"

#include <algorithm>

#include "BoxModel.h"

namespace {

using Bytes = std::vector<uint8_t>;

uint8_t ChunkByte(size_t chunk) {
    return static_cast<uint8_t>(chunk - 1);
}

void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

Bytes SentRecords() {
    // Two channels of 64 records: identifier, value high byte, value low byte.
    Bytes sent(384, 0);
    const uint8_t records[][3] = {{0x05, 0x00, 0x42}, {0x90, 0x08, 0xA1}, {0x91, 0x0C, 0x62},
                                  {0x03, 0x00, 0x1B}, {0x06, 0x00, 0x04}, {0x01, 0x00, 0x00}};
    for (size_t k = 0; k < std::size(records); ++k) {
        for (size_t b = 0; b < 3; ++b) sent[k * 3 + b] = records[k][b];
    }
    const uint8_t second[][3] = {{0x05, 0x00, 0x06}, {0x01, 0x01, 0x2C}, {0x03, 0x00, 0x45}};
    for (size_t k = 0; k < std::size(second); ++k) {
        for (size_t b = 0; b < 3; ++b) sent[192 + k * 3 + b] = second[k][b];
    }
    return sent;
}

Bytes Input(size_t chunk, uint8_t start, const Bytes& payload) {
    Bytes bytes{ChunkByte(chunk), start};
    Append(bytes, payload);
    return bytes;
}

}  // namespace

uint8_t AssemblerStartByte(AssemblerStart start, SeedEdition edition, bool poisonedCell,
                           bool emptyStartTime, bool servicePage) {
    return static_cast<uint8_t>(static_cast<uint8_t>(start) | (static_cast<uint8_t>(edition) << 3) |
                                (poisonedCell ? 0x20 : 0) | (emptyStartTime ? 0x40 : 0) |
                                (servicePage ? 0x80 : 0));
}

std::vector<uint8_t> MakeBoxImage(char edition) {
    const size_t block = edition == '3' ? kProgramBlock3 : kProgramBlock2;
    Bytes image(9 * block);
    for (size_t offset = 0; offset < image.size(); offset += 2) {
        uint16_t value = static_cast<uint16_t>((offset * 37) ^ (offset >> 3));
        if (offset < 32) value = static_cast<uint16_t>(1000 + 250 * offset);  // P1 CH1 RPM row
        WriteWord(&image[offset], value);
    }
    return image;
}

std::vector<uint8_t> DownloadSession(char edition) {
    BoxContents box;
    box.serial = edition == '3' ? "30012345" : "20054321";
    box.SetEditionImage(MakeBoxImage(edition));
    if (edition == '3') {
        for (size_t k = 0; k < kConfigValues; ++k)
            box.config[k] = ReadWord(std::array<uint8_t, 2>{static_cast<uint8_t>(0xF0 + 2 * k),
                                                            static_cast<uint8_t>(0xF1 + 2 * k)}
                                         .data());
    } else {
        box.config[0] = 200;
    }
    box.runningProgram = 4;
    box.startTime = 7;
    box.pedal = 2;
    const Bytes sent = SentRecords();
    std::copy(sent.begin(), sent.end(), box.sentData.begin());
    Bytes session;
    for (uint8_t code : DownloadChain(edition))
        Append(session, HandleBoxCommand(box, code, {}).response);
    return session;
}

std::vector<uint8_t> LiveMessage(uint16_t rpm, uint16_t press1, uint16_t temp1, uint16_t press2,
                                 uint16_t temp2, uint16_t press3) {
    const auto message = EncodeLiveMessage({rpm, press1, temp1, press2, temp2, press3});
    return {message.begin(), message.end()};
}

std::vector<FuzzSeed> AssemblerSeeds() {
    using S = AssemblerStart;
    using E = SeedEdition;
    std::vector<FuzzSeed> seeds;

    for (char edition : {'2', '3'}) {
        const std::string tag = std::string(1, edition) + "ch";
        const Bytes session = DownloadSession(edition);
        for (size_t chunk : {64, 13, 1}) {
            seeds.push_back({"download-" + tag + "-by" + std::to_string(chunk),
                             Input(chunk, AssemblerStartByte(S::DownloadAsked, E::None), session)});
        }
        // The send chain: one ACK per write, then the read-back, which is a download. Byte by
        // byte, since the box answers each command only after it has arrived.
        const E seedEdition = edition == '3' ? E::Three : E::Two;
        Bytes chain(edition == '3' ? 5 : 4, ACK);
        Append(chain, session);
        seeds.push_back(
            {"send-chain-" + tag, Input(1, AssemblerStartByte(S::SerialSent, seedEdition), chain)});

        // Garbage, live messages at and between the RPM points, and one cut short. (A byte
        // that follows a message and starts none marks that message as out of step.)
        Bytes live{0x00, 0x07, 0x42};
        for (uint16_t rpm : {1000, 1240, 4510, 8500, 9000}) {
            Append(live, LiveMessage(rpm, static_cast<uint16_t>(rpm / 10), 85, 1200, 90, 300));
        }
        Append(live, LiveMessage(2000, 65535, 0, 40000, 1, 32768));
        const Bytes partial = LiveMessage(3000, 1, 2, 3, 4, 5);
        live.insert(live.end(), partial.begin(), partial.begin() + 6);
        seeds.push_back(
            {"live-" + tag, Input(7, AssemblerStartByte(S::LiveStream, seedEdition), live)});
        seeds.push_back({"live-" + tag + "-poisoned",
                         Input(13, AssemblerStartByte(S::LiveStream, seedEdition, true), live)});
    }

    // A 2-channel box that leaves out the CH3 word: 11-byte messages, later ones with 0x15
    // where a 13-byte message's next code would be. The last waits for the quiet line at the
    // end.
    Bytes shortLive{0x00, 0x42};
    for (uint16_t rpm : {1000, 4510, 0x1515, 0x1540, 8500, 3000}) {
        const Bytes message = LiveMessage(rpm, 0x1515, 85, 0x0015, 90, 0);
        shortLive.insert(shortLive.end(), message.begin(), message.begin() + kLiveMessageLength2);
    }
    seeds.push_back(
        {"live-2ch-short", Input(5, AssemblerStartByte(S::LiveStream, E::Two), shortLive)});

    // An ACK with stray bytes behind it in the same chunk: the ACK counts, the rest is
    // dropped.
    // More bytes than the tool's receive buffer holds.
    Bytes stalled(4200, 0xA5);
    stalled[0] = ACK;
    seeds.push_back(
        {"ack-then-noise", Input(60, AssemblerStartByte(S::SerialSent, E::Three), stalled)});
    seeds.push_back(
        {"program-selected", Input(1, AssemblerStartByte(S::ProgramSelected, E::Three), {ACK})});
    seeds.push_back({"garbage-then-serial",
                     Input(5, AssemblerStartByte(S::DownloadAsked, E::Two),
                           {0xFF, 0x00, 0x05, 0x1E, '3', '0', '0', '0', '0', '0', '0', '1'})});
    seeds.push_back({"idle-noise", Input(3, AssemblerStartByte(S::Idle, E::Three),
                                         {0x15, 0x05, 0x1E, 0x00, 0x66})});
    return seeds;
}

std::vector<FuzzSeed> TuningFileSeeds() {
    std::vector<FuzzSeed> seeds;
    Bytes two = MakeBoxImage('2');
    two.push_back(200);
    seeds.push_back({"file-2ch", two});
    Bytes three = MakeBoxImage('3');
    for (uint8_t k = 0; k < kConfigRowSize3; ++k) three.push_back(static_cast<uint8_t>(k * 5));
    seeds.push_back({"file-3ch", three});
    seeds.push_back({"file-short", Bytes(two.begin(), two.begin() + 100)});
    return seeds;
}
