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

// Moves bytes from the front of `input` into RxBuffer until it holds `length`.
void Collect(Variables& vars, std::span<const uint8_t>& input, size_t length) {
    const size_t take = std::min(length - std::min<size_t>(vars.RxPos, length), input.size());
    std::memcpy(vars.RxBuffer.data() + vars.RxPos, input.data(), take);
    vars.RxPos = static_cast<uint16_t>(vars.RxPos + take);
    input = input.subspan(take);
}

// The live message of `length` bytes at the front of RxBuffer. Bytes behind it (at most two,
// see NextTwoChannelLive) are the next message's start and stay.
FrameEvent TakeLive(Variables& vars, size_t length) {
    FrameEvent event;
    event.kind = FrameKind::LiveSample;
    event.code = Cmd::LiveData;
    event.size = length;
    event.live = DecodeLiveMessage(vars.RxBuffer.data(), length);
    const size_t rest = vars.RxPos - length;
    std::memmove(vars.RxBuffer.data(), vars.RxBuffer.data() + length, rest);
    vars.RxPos = static_cast<uint16_t>(rest);
    return event;
}

// The message in RxBuffer is followed by no message start, so it is out of step: its first
// byte is dropped and the framer goes on from the next byte that could start one.
FrameEvent DropOutOfStep(Variables& vars) {
    const uint8_t code = vars.RxBuffer[0];
    uint16_t start = 1;
    while (start < vars.RxPos && !Acceptable(vars, vars.RxBuffer[start])) ++start;
    std::memmove(vars.RxBuffer.data(), vars.RxBuffer.data() + start, vars.RxPos - start);
    vars.RxPos = static_cast<uint16_t>(vars.RxPos - start);
    return Dropped(code, start);
}

// The byte `at` of the stream from the message in RxBuffer on: RxBuffer, then `input`; -1
// for one that has not come yet.
int ByteAt(const Variables& vars, std::span<const uint8_t> input, size_t at) {
    if (at < vars.RxPos) return vars.RxBuffer[at];
    at -= vars.RxPos;
    return at < input.size() ? input[at] : -1;
}

// How long a 2-channel box's live message is, while its stream has not shown it. A message
// is whole once the byte behind it is the next one's code (0x15), or the line has gone quiet
// behind it. Counting bytes from 0, 11 fits when byte 11 is the code, 13 when byte 13 is; a
// message whose byte 11 is no code can only be 13 bytes long and is taken once they are in.
// Where both fit (a CH3 word that starts with 0x15, or an 11-byte stream whose next RPM has
// the low byte 0x15), the later starts decide as far as the bytes at hand go: byte 11k for 11,
// byte 13k for 13. Where they still both fit, 13 is taken, so a 13-byte message is never cut.
// A length shown by the next start alone is kept for the stream (Variables::LiveLength); a
// message of the kept length followed by no code makes the framer learn afresh.
enum class Fit { Wait, Eleven, ElevenShown, Thirteen, ThirteenShown, OutOfStep };

Fit TwoChannelFit(const Variables& vars, std::span<const uint8_t> input) {
    const auto at = [&](size_t k) { return ByteAt(vars, input, k); };
    const int at11 = at(kLiveMessageLength2);
    if (at11 < 0) return Fit::Wait;
    if (at11 != Cmd::LiveData) {
        if (at(kLiveMessageLength - 1) < 0) return Fit::Wait;
        const int at13 = at(kLiveMessageLength);
        // With nothing behind it yet, taken at once as a 13-byte message always was.
        if (at13 < 0) return Fit::Thirteen;
        return at13 == Cmd::LiveData ? Fit::ThirteenShown : Fit::OutOfStep;
    }
    const int at13 = at(kLiveMessageLength);
    if (at13 < 0) return Fit::Wait;
    if (at13 != Cmd::LiveData) return Fit::ElevenShown;
    for (size_t k = 2;; ++k) {
        if (at(k * kLiveMessageLength2) != Cmd::LiveData) return Fit::Thirteen;
        const int next13 = at(k * kLiveMessageLength);
        if (next13 < 0) return Fit::Thirteen;
        if (next13 != Cmd::LiveData) return Fit::Eleven;
    }
}

// The next live message of a 2-channel box whose message length is 11 or not yet known.
std::optional<FrameEvent> NextTwoChannelLive(Variables& vars, std::span<const uint8_t>& input) {
    Collect(vars, input, kLiveMessageLength2);
    if (vars.RxPos < kLiveMessageLength2) return std::nullopt;
    if (vars.LiveLength == kLiveMessageLength2 && vars.RxPos == kLiveMessageLength2) {
        if (input.empty()) return std::nullopt;  // the next byte or a quiet line tells
        if (input.front() == Cmd::LiveData) return TakeLive(vars, kLiveMessageLength2);
        // No 11-byte stream after all, or out of step: learned afresh.
        vars.LiveLength = 0;
    }
    const Fit fit = TwoChannelFit(vars, input);
    if (fit == Fit::ElevenShown) vars.LiveLength = kLiveMessageLength2;
    if (fit == Fit::Eleven || fit == Fit::ElevenShown) return TakeLive(vars, kLiveMessageLength2);
    // The CH3 word may belong to this message.
    Collect(vars, input, kLiveMessageLength);
    if (fit == Fit::Wait) return std::nullopt;
    if (fit == Fit::OutOfStep) return DropOutOfStep(vars);
    if (fit == Fit::ThirteenShown) vars.LiveLength = kLiveMessageLength;
    return TakeLive(vars, kLiveMessageLength);
}

// The length of the 2-channel live message in RxBuffer that waits for the line's next byte,
// 0 for none: 11 bytes, or 12 whose last is a code (11 and the next one's start), or 13 whose
// 12th is the code (where 13 is preferred, as above).
size_t WaitingLiveLength(const Variables& vars) {
    if (!Streaming(vars) || vars.Edition() != '2' || vars.LiveLength == kLiveMessageLength ||
        vars.RxPos < kLiveMessageLength2 || vars.RxBuffer[0] != Cmd::LiveData)
        return 0;
    if (vars.RxPos == kLiveMessageLength) return kLiveMessageLength;
    if (vars.RxPos == kLiveMessageLength2) return kLiveMessageLength2;
    return vars.RxBuffer[kLiveMessageLength2] == Cmd::LiveData ? kLiveMessageLength2 : 0;
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
    if (live && vars.Edition() == '2' && vars.LiveLength != kLiveMessageLength)
        return NextTwoChannelLive(vars, input);
    const size_t length = live ? kLiveMessageLength : AnswerLength(code);
    if (length == 0 || length > kRxBufferSize) {
        // Cannot happen with the protocol's codes; a start that frames nothing is dropped.
        vars.RxPos = 0;
        return Dropped(code, 1);
    }
    Collect(vars, input, length);
    if (vars.RxPos < length) return std::nullopt;

    if (!live) {
        FrameEvent event;
        event.code = code;
        event.size = length;
        event.kind = KindOfResponse(code);
        return event;
    }
    if (!input.empty() && input.front() != Cmd::LiveData) {
        // A length learned from bytes out of step is learned afresh.
        vars.LiveLength = 0;
        return DropOutOfStep(vars);
    }
    return TakeLive(vars, kLiveMessageLength);
}

std::optional<FrameEvent> QuietLineFrame(Variables& vars) {
    const size_t length = WaitingLiveLength(vars);
    if (length == 0) return std::nullopt;
    return TakeLive(vars, length);
}

bool LiveMessageWaiting(const Variables& vars) {
    return WaitingLiveLength(vars) != 0;
}
