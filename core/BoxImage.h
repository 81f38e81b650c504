#pragma once
// The box's byte image of programs P1..P9 and the configuration row.
//
// Values are 16-bit, high byte first. A program block holds 32-byte rows of 16 values:
// CH1 rows RPM, CORR, PRESS, MULTI%, then CH2's, then (3-channel layout only) CH3's and
// the FUEL% row. Blocks of P1..P9 follow each other. The decoders read image byte k at
// RxBuffer[1 + k], since byte 0 of the receive buffer is the response code; the
// encoders write image byte k at buffer[k].
#include <array>
#include <cstdint>
#include <span>

#include "Controls.h"
#include "Protocol.h"
#include "Variables.h"

using RxBufferT = std::array<uint8_t, kRxBufferSize>;

void DecodeProgram3(const RxBufferT& rx, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3,
                    TextGrid& fuel, uint16_t& cursor);
// Writes "0" into every CH3 and FUEL% value cell.
void DecodeProgram2(const RxBufferT& rx, TextGrid& ch1, TextGrid& ch2, TextGrid& ch3,
                    TextGrid& fuel, uint16_t& cursor);
// Decode P1..P9, then refresh the charts of the shown page.
void DecodeImage3(FormControls& form, const RxBufferT& rx, uint16_t& cursor);
void DecodeImage2(FormControls& form, const RxBufferT& rx, uint16_t& cursor);
void DecodeConfigRow(const RxBufferT& rx, TextGrid& config, uint16_t& cursor);

// The encoders convert cell texts as they go; a text that is not an integer throws
// ConversionError at that cell, leaving what was written so far in the buffer.
void EncodeProgram3(TextGrid& ch1, TextGrid& ch2, TextGrid& ch3, TextGrid& fuel,
                    std::span<uint8_t> buffer, uint16_t& cursor);
void EncodeProgram2(TextGrid& ch1, TextGrid& ch2, std::span<uint8_t> buffer, uint16_t& cursor);
void EncodeImage3(FormControls& form, std::span<uint8_t> buffer, uint16_t& cursor);
void EncodeImage2(FormControls& form, std::span<uint8_t> buffer, uint16_t& cursor);
void EncodeConfigRow(TextGrid& config, std::span<uint8_t> buffer, uint16_t& cursor);
