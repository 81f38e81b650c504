#pragma once
// The sensors' slow-channel serial messages, as the box collects them on CH1 and CH2:
// 64 records of 3 bytes per channel (identifier, 16-bit value high byte first).
#include <cstdint>
#include <string>

#include "BoxImage.h"
#include "Controls.h"

std::string ManufacturerName(uint16_t value);
std::string SensorTypeName(uint16_t value);
std::string ProtocolRevisionName(uint16_t value);
// The two 6-bit characters of an OEM code record; "--" for the value 0.
std::string OemCharacters(uint16_t value);

void ShowManufacturer(FormControls& form, int column, uint16_t value);
void ShowSensorType(FormControls& form, int column, uint16_t value);
void ShowProtocolRevision(FormControls& form, int column, uint16_t value);

// Decodes the 385-byte response in RxBuffer into the SENT table and the raw listing of
// every record into StaticText1.
void DecodeSentData(FormControls& form, const RxBufferT& rx);
