#pragma once
// The third stage: what a frame from the box shows in the controls.
#include <cstdint>
#include <string>

#include "Controls.h"
#include "Framer.h"
#include "LiveRecording.h"
#include "Variables.h"

// The box's serial report: the number, the edition's table layout and the labels.
void PresentSerialReport(FormControls& form, Variables& vars);
// Every other frame: the tables filled from RxBuffer, the running program marked, the
// Service page's values, the buttons that an ACK releases. A live sample updates the live
// values and labels, the dyno log and the tracked column. Cell texts that are no numbers
// throw ConversionError from the routines below.
void PresentFrame(FormControls& form, Variables& vars, const FrameEvent& frame);

// A live sample in two halves, for a display that keeps to the screen's pace: taking it
// (the live values and the dyno log's records; every sample) and showing the latest state
// (labels, the dyno log table, the tracked column; as often as the screen shows it).
void TakeLiveSample(FormControls& form, Variables& vars, const LiveSample& sample);
void ShowLiveState(FormControls& form, Variables& vars);
// Takes recorded live messages as if they came from the box, each under the program it was
// recorded with, and shows the last. The program the box runs is kept.
void ReplayLiveRecords(FormControls& form, Variables& vars, std::span<const LiveRecord> records);

// Colours the button of the running program and shows its page, with its curves.
void MarkActiveProgram(FormControls& form, Variables& vars, uint8_t n);
// Points the tables at the live RPM: the last column of P1's CH1 RPM row that the RPM has
// reached becomes current in the shown program's tables and in the dyno log.
void TrackLiveRpm(FormControls& form, uint16_t rpm);
void SelectTrackedColumn(TextGrid& g1, TextGrid& g2, TextGrid& g3, TextGrid& g4, int col);
// "BOX serial: " and the number, with the edition's name when the edition is known.
std::string SerialLabelText(const std::string& serial);
