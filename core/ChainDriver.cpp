#include "ChainDriver.h"

uint8_t NextStep(const FrameEvent& frame, const Variables& vars) {
    uint8_t answered = 0;
    switch (frame.kind) {
        case FrameKind::LiveSample:
        case FrameKind::Skipped:
            return 0;
        case FrameKind::Ack:
            answered = frame.answers;
            break;
        default:
            answered = frame.code;
            break;
    }
    // The download chain is the send chain's tail, so one list serves both.
    return NextInChain(SendChain(vars.Edition()), answered);
}
