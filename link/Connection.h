#pragma once
// The connection to the box: the serial port, the read loop, the deadline of every awaited
// answer, the live stream's watch, what a lost connection resets, and opening the port again
// when it comes back. It writes the controls only through the routines of core and tells
// the window the rest through signals, so it runs without widgets too.
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QObject>
#include <QString>
#include <QTimer>

#include "Link.h"
#include "Session.h"
#include "TApdComPort.h"

// The link's trace: every command written and every frame received, with times. Off by
// default; QT_LOGGING_RULES="corvane.link.debug=true" switches it on.
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// What the user agreed to for a send: tables of another box than the one behind the port, and
// the list of what it changes on the box.
struct SendConsent {
    bool otherBox = false;
    bool previewed = false;
};

class Connection : public QObject, private LinkTrace {
    Q_OBJECT
  public:
    // How long a lost port is watched for its return.
    static constexpr int kReconnectWindowMs = 60000;
    static constexpr int kReconnectPollMs = 250;
    // The live stream counts as silent after this long without a message.
    static constexpr int kLiveSilenceMs = 2000;
    // Live samples are shown at most this often: a screen's frame.
    static constexpr int kLiveShowMs = 16;
    // After the stream's switch-off, this long without a byte ends it.
    static constexpr int kLiveDrainQuietMs = 100;
    // A 2-channel box's live message that may be whole waits this long for the next byte
    // (a byte takes 0.087 ms at 115200 baud; a USB adapter may hold bytes back up to 16 ms).
    static constexpr int kLiveQuietMs = 20;

    Connection(FormControls& form, Variables& vars, QObject* parent = nullptr);
    ~Connection() override;

    TApdComPort& Port() { return *port_; }
    Link& LinkState() { return link_; }
    bool IsOpen() const { return port_->IsOpen(); }
    // The port as the user named it.
    QString PortName() const { return name_; }
    bool Reconnecting() const { return reconnect_.isActive(); }

    // Opens the named port; throws LinkError with the reason when it cannot be opened.
    void Open(const QString& name);
    // Switches the live stream off first when it runs, then closes; stops waiting for a lost
    // port to come back.
    void Close();

    // The user's commands (core's routines of the same names); they throw LinkError.
    void Download();
    // "Send". Before the first byte the box behind the port is read on this connection, into
    // a copy aside from the tables, unless this connection has read it whole already: the
    // backup is of the box being written. When the tables came from another box than the
    // one behind the port, OtherBoxBeforeSend is raised and nothing is written, unless the
    // user agreed to it; with the preview wanted, PreviewBeforeSend is raised first.
    void Send(SendConsent consent = {});
    // Whether a send first says what it would change (PreviewBeforeSend).
    void SetPreviewBeforeSend(bool on) { previewWanted_ = on; }
    void SelectProgram(int n);
    void SwitchDynoLog();

    // What the status bar says about the connection now.
    QString StatusText() const;
    // The session as one value; SessionChanged says when any of it changed.
    SessionState State() const;
    // Where the tables came from, and how many of their values changed since; the window
    // says so, for it holds the tables.
    void SetTablesOrigin(const TablesOrigin& origin);
    void SetTablesChanges(int changes);
    // The path of the last backup written before a send, empty before the first.
    QString LastBackup() const { return lastBackup_; }
    // A send stopped after its first write: the box may hold part of it.
    bool HalfWritten() const { return halfWritten_; }
    static constexpr const char* kHalfWrittenText = "The box may be half-written.";

    // Bytes written to and read from the port since it was opened, for a progress figure.
    uint64_t BytesMoved() const { return bytesWritten_ + bytesRead_; }

  signals:
    // Anything of State() changed.
    void SessionChanged();
    // A download, or the read-back that ends a send (`afterSend`), has filled the tables
    // from box `serial`.
    void TablesReadFromBox(const QString& serial, bool afterSend);
    void Opened();
    void Closed();
    // The port failed or the far end hung up; the port is closed already.
    void Lost(const QString& reason);
    // The lost port came back and is open again.
    void Reconnected();
    // Something the user must be told in a message box: an answer that did not come, a
    // table cell the live handling could not read.
    void Failed(const QString& message);
    void StatusChanged(const QString& text);
    // A send's read-back differs from what it wrote: one line per difference.
    void VerifyFailed(const QString& report);
    // "Send" found another box behind the port than the one the tables came from; nothing
    // was written. Send with consent.otherBox goes ahead.
    void OtherBoxBeforeSend(const QString& tablesSerial, const QString& boxSerial);
    // "Send" with the preview wanted: what it would change on box `boxSerial`, one line per
    // value (empty when nothing); nothing was written. Send with `consent` and previewed
    // goes ahead.
    void PreviewBeforeSend(const QStringList& changes, const QString& boxSerial,
                           SendConsent consent);
    // Nothing waits for an answer any more: a chain or command ended, failed or was cut off.
    void Idle();
    // One live message, as it was framed, before the tables take it. Every message of the
    // stream comes here in order, however fast they arrive.
    void LiveSampleReceived(const LiveSample& sample);
    // The live stream was switched on; or it is off (by the user, a close or a lost
    // connection) and the messages that were on their way when it was switched off have
    // come: the line was quiet for kLiveDrainQuietMs, or another command was written.
    void LiveStreamChanged(bool on);

  private:
    // Raises Idle when the last awaited answer is no longer awaited.
    void NoteIdle();
    bool wasAwaiting_ = false;
    // Raises LiveStreamChanged when the stream's state differs from the last said.
    void NoteStream();
    bool streamSaid_ = false;
    QTimer drainQuiet_;
    // Runs while a live message waits for the line's next byte (LiveMessageWaiting).
    QTimer liveQuiet_;
    void OnLiveQuiet();
    void TakeWaitingLiveMessage();
    void CommandWritten(uint8_t code, size_t bytes) override;
    void FrameReceived(const FrameEvent& frame) override;

    void ReadAvailable();
    void AfterExchangeStep();
    // Starts "Send" as Send says, without the step's bookkeeping; `afterRead` once the side
    // read for it has ended.
    void StartSend(SendConsent consent, bool afterRead = false);
    // What follows a side read that has ended: the send it was made for, or the word on the
    // box found behind a port that came back.
    void SideReadEnded(Variables::SideRead kind);
    // A send waits for its side read of the box; whether the user agreed to another box.
    bool sendPending_ = false;
    SendConsent consent_;
    bool previewWanted_ = false;
    // The box known behind the port before it was lost, to tell another box when it is back.
    std::string serialBeforeLoss_;
    QString lastBackup_;
    bool halfWritten_ = false;
    void ArmDeadline();
    void OnDeadline();
    void OnLost(const QString& reason);
    void TryReconnect();
    void WatchLiveStream();
    void ShowLive();
    void SetStatus(const QString& text);
    // Raises SessionChanged when State() differs from what was said last.
    void NoteSession();
    SessionState said_;
    TablesOrigin origin_;
    int changes_ = 0;
    bool tablesRead_ = false;
    void WriteBackup();
    void Report(const std::exception& error);
    double TraceTime() const;

    Variables& vars_;
    TApdComPort* port_;
    Link link_;
    QString name_;
    QString byIdLink_;  // the adapter's link under /dev/serial/by-id, when it has one
    bool receiving_ = false;
    QTimer deadline_;
    QTimer reconnect_;
    QElapsedTimer reconnectClock_;
    QTimer liveWatch_;
    QTimer liveShow_;
    bool liveShowErrorSaid_ = false;
    uint64_t liveSeen_ = 0;
    QElapsedTimer liveClock_;
    bool liveSilenceSaid_ = false;
    QString status_;
    QString lostReason_;
    std::string shownSerial_;
    bool serialReported_ = false;
    bool pruneBackups_ = false;
    uint64_t bytesWritten_ = 0;
    uint64_t bytesRead_ = 0;
    QElapsedTimer traceClock_;
};
