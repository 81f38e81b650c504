#pragma once
// The second stage: after a frame, which command the download or send chain writes next.
// It walks the chains' step lists of the protocol definition.
#include <cstdint>

#include "Framer.h"
#include "Variables.h"

// The code of the next command after `frame` has been answered, or 0 when no chain goes
// on: the chain's last answer, a program selection's ACK, a box of no known edition.
// The edition is the one the box last reported (or the one just written by "Send").
uint8_t NextStep(const FrameEvent& frame, const Variables& vars);
