#include "SentData.h"

#include <cstdio>

namespace {

constexpr int kRecords = 64;
constexpr int kRecordSize = 3;
// Room for nine two-character codes: longer OEM texts are cut there.
constexpr size_t kOemTextRoom = 18;

std::string Hex(const char* format, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::string ManufacturerName(uint16_t value) {
    switch (value) {
        case 0x01:
        case 0x10:
        case 0x42:
            return "Bosch";
        case 0x02:
            return "Hitachi";
        case 0x03:
        case 0x43:
        case 0x80:
            return "Continental";
        case 0x04:
        case 0x49:
            return "Infineon";
        case 0x05:
            return "Sensata";
        case 0x06:
            return "Melexis";
        case 0x07:
            return "Micronas";
        case 0x08:
            return "Austria Micro Systems";
        case 0x09:
            return "Denso";
        case 0x12:
            return "Stoneridge Inc";
        case 0x20:
            return "SiemensVDO";
        case 0x32:
            return "i2s Intelligente Sensorsysteme";
        case 0x40:
        case 0x41:
            return "Autoliv";
        case 0x45:
            return "Elmos";
        case 0x46:
            return "Freescale";
        case 0x48:
            return "Hella";
        case 0x4E:
            return "NXP Semiconductors";
        case 0x4F:
            return "OnSemi";
        case 0x53:
            return "ST Microelectronics";
        case 0x54:
            return "TRW";
        case 0x56:
            return "Valeo";
        case 0x5A:
            return "ZMDI";
        case 0x69:
            return "IHR";
        case 0x73:
            return "Seskion";
        default:
            return "Not specified";
    }
}

std::string SensorTypeName(uint16_t value) {
    struct Range {
        uint16_t low, high;
        const char* name;
    };
    static const Range kTypes[] = {{0x00, 0x00, "N.S. Sensor Type"},
                                   {0x01, 0x0E, "Pressure 12/12bit"},
                                   {0x0F, 0x0F, "N.S. Pressure Sensor"},
                                   {0x10, 0x10, "N.S. MAF Sensors"},
                                   {0x11, 0x14, "MAF 16/8bit"},
                                   {0x15, 0x1A, "MAF 14/10bit"},
                                   {0x1B, 0x1C, "MAF 16/8bit"},
                                   {0x1D, 0x1F, "MAF 12/12bit"},
                                   {0x40, 0x40, "N.S. Temperature Sensors"},
                                   {0x41, 0x4C, "Temperature 12/12bit"},
                                   {0x50, 0x50, "N.S. Position Sensors"},
                                   {0x51, 0x85, "Position 12/12bit"},
                                   {0xB0, 0xB0, "N.S. Ratio Sensors"},
                                   {0xB1, 0xB7, "Ratio 12/12bit"},
                                   {0xC0, 0xCF, "Acceleration"}};
    for (const Range& range : kTypes) {
        if (value >= range.low && value <= range.high) return range.name;
    }
    return Hex("$%02X", value & 0xFFu);
}

std::string ProtocolRevisionName(uint16_t value) {
    switch (value) {
        case 1:
            return "FEB2007 SENT Rev.1";
        case 2:
            return "FEB2008 SENT Rev.2";
        case 3:
            return "JAN2010 SENT Rev.3";
        case 4:
            return "APR2016 SENT Rev.4";
        default:
            return "Not specified";
    }
}

std::string OemCharacters(uint16_t value) {
    if (value == 0) return "--";
    std::string text;
    text += static_cast<char>((value & 0x3F) + 0x20);
    text += static_cast<char>(((value & 0xFC0) >> 6) + 0x20);
    return text;
}

void ShowManufacturer(FormControls& form, int column, uint16_t value) {
    form.GridByName(Grid::StrGridSDdata).SetCell(column, 0, ManufacturerName(value));
}

void ShowSensorType(FormControls& form, int column, uint16_t value) {
    form.GridByName(Grid::StrGridSDdata).SetCell(column, 2, SensorTypeName(value));
}

void ShowProtocolRevision(FormControls& form, int column, uint16_t value) {
    form.GridByName(Grid::StrGridSDdata).SetCell(column, 3, ProtocolRevisionName(value));
}

void DecodeSentData(FormControls& form, const RxBufferT& rx) {
    TextGrid& table = form.GridByName(Grid::StrGridSDdata);
    std::string listing;
    for (int column = 0; column < 2; ++column) {
        if (column == 1) listing += '\n';
        std::string oem;
        const int first = 1 + column * kRecords * kRecordSize;
        for (int k = 0; k < kRecords; ++k) {
            const int i = first + k * kRecordSize;
            const uint8_t id = rx[static_cast<size_t>(i)];
            const uint16_t value = ReadWord(rx.data() + i + 1);
            if (id == 0x05) {
                ShowManufacturer(form, column, value);
            } else if (id >= 0x90 && id <= 0x97) {
                if (oem.size() < kOemTextRoom) oem += OemCharacters(value);
            } else if (id == 0x03) {
                ShowSensorType(form, column, value);
            } else if (id == 0x06) {
                ShowProtocolRevision(form, column, value);
            } else if (id == 0x01) {
                table.SetCell(column, 4,
                              value == 0 ? "No error" : "Error code: " + Hex("$%.2X", value));
            }
            table.SetCell(column, 1, oem);
            if (id != 0) listing += Hex("$%.2X:", id) + Hex("$%.3X, ", value);
        }
    }
    form.ControlByName(Ctl::StaticText1).SetCaption(listing);
}
