#pragma once
// The tool's module-level state, owned by the main window and handed to the routines
// that need it. Every field starts zero-filled or empty.
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Protocol.h"

constexpr size_t kRxBufferSize = 4096;

struct Variables {
    // Every received byte is appended here; byte 0 is the code of the response being
    // collected. A loaded tuning file is placed from byte 1 on, so the image decoders
    // read both the same way.
    std::array<uint8_t, kRxBufferSize> RxBuffer{};
    uint16_t RxPos = 0;

    uint8_t DynoLogging = 0;
    // A send has written its serial number and the box has not yet acknowledged the maps:
    // "Download" and "Send" wait.
    bool UploadPending = false;
    // The stream has been switched off and no command written since: the messages the box
    // sent before it read the switch-off are still taken, so none of them is lost.
    bool LiveDraining = false;
    // The length of this stream's live messages as its bytes have shown it: 13, 11 (a
    // 2-channel box that leaves out the CH3 word), or 0 while not known.
    uint8_t LiveLength = 0;
    uint8_t LastCommand = 0;
    uint8_t ActiveProgram = 0;
    // The code of the response the last command asked for (ACK for writes), 0 for none.
    // A response can only start with it, or with a live message while the stream runs.
    uint8_t Awaiting = 0;
    // The command whose answer is awaited, for the message when it does not come.
    uint8_t AskedCommand = 0;
    // When the awaited answer is overdue: the time its command and the answer take on the
    // wire, plus a margin for the box. Past it the exchange counts as dead, and the user may
    // start another.
    std::chrono::steady_clock::time_point AnswerDue{};
    // A conversion error of the live handling has been shown and not cleared since: the
    // stream goes on without repeating it.
    bool LiveErrorShown = false;

    // The last live data message.
    uint16_t LiveRpm = 0;
    uint16_t LivePress1 = 0;
    uint16_t LiveTemp1 = 0;
    uint16_t LivePress2 = 0;
    uint16_t LiveTemp2 = 0;
    uint16_t LivePress3 = 0;
    // How many live messages have been handled since start-up.
    uint64_t LiveMessages = 0;
    // A live sample has been taken and not yet shown.
    bool LiveShowDue = false;

    // The value of the keyboard copy and paste. Stepping is done in 64 bits so that a
    // value near the ends of the 32-bit range moves on rather than wrapping around.
    int64_t CellValue = 0;

    // What the last download brought as a tuning file's bytes (the image, then the
    // configuration), from the box whose number is DownloadedSerial. Complete once both have
    // arrived; a connection opened afresh clears it.
    std::string DownloadedSerial;
    std::vector<uint8_t> DownloadedFile;
    // The start time and pedal response it read; -1 while not read.
    int DownloadedStartTime = -1;
    int DownloadedPedal = -1;

    // The send in progress: what it wrote, by command code, until its read-back has been
    // compared with it; the differences found so far; and how the last send ended, for
    // whoever shows it (taken and reset by the caller).
    enum class Verification : uint8_t { None, Verified, Failed };
    bool Verifying = false;
    std::map<uint8_t, std::vector<uint8_t>> Sent;
    std::vector<std::string> Differences;
    // The first table cell among them: program 1..9 (0 for the configuration row), its
    // table, column and row; program -1 while no cell differs.
    struct CellPlace {
        int program = -1;
        int table = 0;
        int col = 0;
        int row = 0;
    };
    CellPlace FirstDifferentCell;
    Verification VerifyOutcome = Verification::None;

    // Eight characters as last reported by the box (or last written by a send). Its
    // first character is the edition; empty means no box has been read yet.
    std::string BoxSerial;

    // A read of the box that leaves the tables as they are: its serial number only (when the
    // port came back), or also its maps and configuration into DownloadedFile (the copy a
    // send backs up before it writes).
    enum class SideRead : uint8_t { None, Identity, Copy };
    SideRead Reading = SideRead::None;
    // The side read that ended with its last answer, for whoever waits for it (taken and
    // reset by the caller).
    SideRead ReadingEnded = SideRead::None;
    // The box behind the port as read on this connection; empty while unknown.
    std::string PortSerial;
    // The box whose download filled the tables; empty when they came from a file.
    std::string TablesSerial;
    // The edition the exchange speaks: the box's own during a side read, else the tables'.
    char LinkEdition() const {
        return Reading != SideRead::None ? EditionOf(PortSerial) : Edition();
    }

    // Program clipboard: channel tables indexed column * 4 + row, the fuel row by column.
    std::array<std::string, 68> ClipCH1{};
    std::array<std::string, 68> ClipCH2{};
    std::array<std::string, 68> ClipCH3{};
    std::array<std::string, 17> ClipFuel{};
    // Set once a program tab has been copied; until then there is nothing to paste.
    bool ClipboardFilled = false;
    std::array<std::string, 17> RpmRowBuffer{};

    // Dyno log records, indexed column * 4 + row.
    std::array<std::string, 68> DynoLogP0{};
    std::array<std::string, 68> DynoLogP1toP9{};

    // The edition character: '2', '3', or '\0' while no box of a known edition has been
    // read.
    char Edition() const { return EditionOf(BoxSerial); }
};
