#pragma once
// The first stage of the receive path: the box's bytes, in chunks of any size, become whole
// frames in RxBuffer. It knows what is awaited and nothing of the controls.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "Protocol.h"
#include "Variables.h"

enum class FrameKind : uint8_t {
    SerialReport,
    Image,
    RunningProgram,
    Configuration,
    StartTime,
    PedalResponse,
    SentBlock,
    Ack,
    LiveSample,
    Skipped,  // bytes that could not start what is awaited, dropped
};

struct FrameEvent {
    FrameKind kind = FrameKind::Skipped;
    uint8_t code = 0;  // the frame's first byte (the first byte dropped, for Skipped)
    size_t size = 0;   // bytes of the frame, or bytes dropped
    LiveSample live;   // for LiveSample
    // For an ACK: the command it answers (filled in by the receive path, which knows).
    uint8_t answers = 0;
};

const char* FrameKindName(FrameKind kind);

// True for a byte that can start what is awaited: the awaited answer's code, or a live
// message's while the stream runs.
bool Acceptable(const Variables& vars, uint8_t byte);

// Takes bytes from the front of `input` into RxBuffer, never more than the frame being
// collected needs, and returns the next event: a whole frame (its bytes from RxBuffer[0]
// on), or a run of dropped bytes. Nothing when `input` is used up before a frame is whole.
// A response frame stays in RxBuffer until the next command; a live message is consumed at
// once (only the next message's first bytes may stay), so that what handles it may fail
// without leaving it behind. With nothing awaited and no stream, the bytes are dropped and
// RxBuffer stays as it is.
//
// A 2-channel box's live messages are 13 or 11 bytes; the rule that tells them apart is in
// Framer.cpp (TwoChannelFit). Such a message may be whole only once the next byte has come,
// or the line has gone quiet (QuietLineFrame).
std::optional<FrameEvent> NextFrame(Variables& vars, std::span<const uint8_t>& input);

// True while RxBuffer holds a live message of a 2-channel box that is whole if nothing
// follows it: whoever reads the line calls QuietLineFrame once it has been quiet a while.
bool LiveMessageWaiting(const Variables& vars);
// The line has been quiet well beyond a byte's time: the live message that waited for the
// next byte, as a LiveSample event; nothing when none waits.
std::optional<FrameEvent> QuietLineFrame(Variables& vars);
