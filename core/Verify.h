#pragma once
// The send chain's read-back held against what the send wrote: serial number, image byte for
// byte, configuration, start time and pedal response.
#include <string>
#include <vector>

#include "Controls.h"
#include "Framer.h"
#include "Variables.h"

// Compares a frame of the read-back with what the send wrote for it. Each differing value
// adds a line to vars.Differences; a differing table cell is marked with the sent value.
void VerifyFrame(FormControls& form, Variables& vars, const FrameEvent& frame);

// The lines of a failed verification: one per difference, at most 30, then "... and N more".
std::string VerifyReport(const std::vector<std::string>& differences);

constexpr const char* kVerifiedText = "Sent and verified.";
constexpr const char* kVerifyFailedTitle = "Verify failed";
