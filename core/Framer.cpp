#include "Framer.h"

#include <algorithm>
#include <cstring>

namespace {

FrameKind KindOfResponse(uint8_t code) {
    switch (code) {
        case Cmd::ReadSerial:
            return FrameKind::SerialReport;
        case Cmd::ReadImage2:
        case Cmd::ReadImage3:
            return FrameKind::Image;
        case Cmd::ReadProgram:
            return FrameKind::RunningProgram;
        case Cmd::ReadConfig2:
        case Cmd::ReadConfig3:
            return FrameKind::Configuration;
        case Cmd::ReadStartTime:
            return FrameKind::StartTime;
        case Cmd::ReadPedal:
            return FrameKind::PedalResponse;
        case Cmd::ReadSentData:
            return FrameKind::SentBlock;
        case ACK:
            return FrameKind::Ack;
        default:
            return FrameKind::Skipped;
    }
}

bool Streaming(const Variables& vars) {
    return vars.DynoLogging != 0 || vars.LiveDraining;
}

FrameEvent Dropped(uint8_t first, size_t count) {
    FrameEvent event;
    event.code = first;
    event.size = count;
    return event;
}

}  // namespace

const char* FrameKindName(FrameKind kind) {
    switch (kind) {
        case FrameKind::SerialReport:
            return "serial report";
        case FrameKind::Image:
            return "image";
        case FrameKind::RunningProgram:
            return "running program";
        case FrameKind::Configuration:
            return "configuration";
        case FrameKind::StartTime:
            return "start time";
        case FrameKind::PedalResponse:
            return "pedal response";
        case FrameKind::SentBlock:
            return "SENT block";
        case FrameKind::Ack:
            return "ACK";
        case FrameKind::LiveSample:
            return "live sample";
        case FrameKind::Skipped:
            return "bytes skipped";
    }
    return "?";
}

bool Acceptable(const Variables& vars, uint8_t byte) {
    return (vars.Awaiting != 0 && byte == vars.Awaiting) ||
           (Streaming(vars) && byte == Cmd::LiveData);
}

std::optional<FrameEvent> NextFrame(Variables& vars, std::span<const uint8_t>& input) {
    if (vars.Awaiting == 0 && !Streaming(vars)) {
        // Nothing asked for and no stream: whatever comes is no answer, and it must not
        // disturb the last response.
        if (input.empty()) return std::nullopt;
        const FrameEvent event = Dropped(input.front(), input.size());
        input = {};
        return event;
    }
    if (vars.RxPos == 0) {
        size_t skip = 0;
        while (skip < input.size() && !Acceptable(vars, input[skip])) ++skip;
        if (skip > 0) {
            const FrameEvent event = Dropped(input.front(), skip);
            input = input.subspan(skip);
            return event;
        }
        if (input.empty()) return std::nullopt;
    }
    const uint8_t code = vars.RxPos > 0 ? vars.RxBuffer[0] : input.front();
    const bool live = Streaming(vars) && code == Cmd::LiveData;
    const size_t length = live ? kLiveMessageLength : AnswerLength(code);
    if (length == 0 || length > kRxBufferSize) {
        // Cannot happen with the protocol's codes; a start that frames nothing is dropped.
        vars.RxPos = 0;
        return Dropped(code, 1);
    }
    const size_t take = std::min(length - std::min<size_t>(vars.RxPos, length), input.size());
    std::memcpy(vars.RxBuffer.data() + vars.RxPos, input.data(), take);
    vars.RxPos = static_cast<uint16_t>(vars.RxPos + take);
    input = input.subspan(take);
    if (vars.RxPos < length) return std::nullopt;

    FrameEvent event;
    event.code = code;
    event.size = length;
    if (!live) {
        event.kind = KindOfResponse(code);
        return event;
    }
    if (!input.empty() && input.front() != Cmd::LiveData) {
        // What follows is no message start, so this one is out of step: drop its first byte
        // and go on from the next byte that could start one.
        uint16_t start = 1;
        while (start < vars.RxPos && !Acceptable(vars, vars.RxBuffer[start])) ++start;
        std::memmove(vars.RxBuffer.data(), vars.RxBuffer.data() + start, vars.RxPos - start);
        vars.RxPos = static_cast<uint16_t>(vars.RxPos - start);
        return Dropped(code, start);
    }
    event.kind = FrameKind::LiveSample;
    event.live = DecodeLiveMessage(vars.RxBuffer.data());
    vars.RxPos = 0;
    return event;
}
