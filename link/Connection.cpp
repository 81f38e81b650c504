#include "Connection.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <utility>

#include "BackupStore.h"
#include "Conversions.h"
#include "SaveFile.h"
#include "SendPreview.h"
#include "TuningFile.h"
#include "Verify.h"

Q_LOGGING_CATEGORY(lcLink, "corvane.link", QtWarningMsg)

namespace {

// The device behind a port name as the user gives it (ttyUSB0 or a path).
QString DevicePath(const QString& name) {
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

// The link under /dev/serial/by-id that points at the port, if there is one: a USB adapter
// that is plugged in again may come back under another name, but under the same link.
QString ByIdLink(const QString& name) {
    const QString device = QFileInfo(DevicePath(name)).canonicalFilePath();
    if (device.isEmpty()) return {};
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& entry : byId.entryInfoList(QDir::System | QDir::Files)) {
        if (entry.canonicalFilePath() == device) return entry.absoluteFilePath();
    }
    return {};
}

// A pseudo-terminal's number is free for any program once its owner has closed it: the same
// name may come back as somebody's terminal. Only a link to one (as the simulated box's
// tests use) names the same box again.
bool PseudoTerminal(const QString& name) {
    return name.startsWith(QStringLiteral("/dev/pts/"));
}

const char* CommandName(uint8_t code, char edition) {
    const CommandRow* row = FindCommand(code, edition);
    return row != nullptr ? row->name : "?";
}

}  // namespace

Connection::Connection(FormControls& form, Variables& vars, QObject* parent)
    : QObject(parent), vars_(vars), port_(new TApdComPort(this)), link_{form, vars, *port_} {
    port_->setObjectName(QStringLiteral("ApdComPort1"));
    link_.trace = this;
    // Every sample is taken as it comes; the window shows the latest at the screen's pace.
    link_.deferLiveShow = true;
    liveShow_.setSingleShot(true);
    liveShow_.setTimerType(Qt::PreciseTimer);
    connect(&liveShow_, &QTimer::timeout, this, &Connection::ShowLive);
    connect(port_, &TApdComPort::TriggerAvail, this, &Connection::ReadAvailable);
    connect(port_, &TApdComPort::ConnectionLost, this, &Connection::OnLost);
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, &Connection::OnDeadline);
    reconnect_.setInterval(kReconnectPollMs);
    connect(&reconnect_, &QTimer::timeout, this, &Connection::TryReconnect);
    drainQuiet_.setSingleShot(true);
    drainQuiet_.setInterval(kLiveDrainQuietMs);
    liveQuiet_.setSingleShot(true);
    liveQuiet_.setInterval(kLiveQuietMs);
    connect(&liveQuiet_, &QTimer::timeout, this, &Connection::OnLiveQuiet);
    connect(&drainQuiet_, &QTimer::timeout, this, [this] {
        // Nothing more came: a later byte is no message of the stream.
        TakeWaitingLiveMessage();
        vars_.LiveDraining = false;
        NoteStream();
    });
    liveWatch_.setInterval(kLiveSilenceMs / 8);
    connect(&liveWatch_, &QTimer::timeout, this, &Connection::WatchLiveStream);
    traceClock_.start();
    status_ = QStringLiteral("Not connected");
}

Connection::~Connection() = default;

void Connection::Open(const QString& name) {
    reconnect_.stop();
    port_->SetPortName(name);
    port_->SetOpen(true);
    name_ = port_->PortName();
    byIdLink_ = ByIdLink(name_);
    ResetExchange(vars_);
    // A backup is made only of what was read from the box on this connection.
    vars_.DownloadedSerial.clear();
    vars_.DownloadedFile.clear();
    vars_.PortSerial.clear();
    sendPending_ = false;
    halfWritten_ = false;
    bytesWritten_ = bytesRead_ = 0;
    shownSerial_.clear();
    serialReported_ = false;
    lostReason_.clear();
    traceClock_.restart();
    qCDebug(lcLink, "opened %s%s", qPrintable(name_),
            byIdLink_.isEmpty() ? "" : qPrintable(QStringLiteral(" (%1)").arg(byIdLink_)));
    SetStatus(StatusText());
    emit Opened();
}

void Connection::Close() {
    TakeWaitingLiveMessage();
    ShowLive();
    reconnect_.stop();
    deadline_.stop();
    liveWatch_.stop();
    if (port_->IsOpen()) {
        // The box stops its stream before the port goes; the switch-off byte needs a moment
        // to leave.
        if (vars_.DynoLogging == 1) ::SwitchDynoLog(link_);
        port_->CloseAfter(10);
    } else {
        port_->SetOpen(false);
    }
    ResetExchange(vars_);
    lostReason_.clear();
    qCDebug(lcLink, "closed %s", qPrintable(name_));
    NoteStream();
    SetStatus(StatusText());
    emit Closed();
}

void Connection::Download() {
    if (vars_.LiveDraining) TakeWaitingLiveMessage();
    ::Download(link_);
    AfterExchangeStep();
}

void Connection::Send(SendConsent consent) {
    if (vars_.LiveDraining) TakeWaitingLiveMessage();
    StartSend(consent);
    AfterExchangeStep();
}

void Connection::StartSend(SendConsent consent, bool afterRead) {
    // Every check first: a send that would be refused reads nothing either.
    CheckSend(link_);
    const bool copied = !DownloadedTuningFile(vars_).empty() && !vars_.PortSerial.empty() &&
                        vars_.DownloadedSerial == vars_.PortSerial;
    if (!copied && afterRead) {
        throw LinkError(vars_.PortSerial.empty() || EditionOf(vars_.PortSerial) == '\0'
                            ? "The box behind " + name_.toStdString() +
                                  " reported no serial number of a known edition (\"" +
                                  vars_.PortSerial + "\"). Nothing was sent."
                            : "The box could not be read before the send. Nothing was sent.");
    }
    if (!copied) {
        ReadBoxAside(link_, true);
        sendPending_ = true;
        consent_ = consent;
        SetStatus(QStringLiteral("Reading the box before the send..."));
        return;
    }
    if (!consent.otherBox && !vars_.TablesSerial.empty() &&
        vars_.TablesSerial != vars_.PortSerial) {
        SetStatus(StatusText());
        emit OtherBoxBeforeSend(QString::fromStdString(vars_.TablesSerial),
                                QString::fromStdString(vars_.PortSerial));
        return;
    }
    if (previewWanted_ && !consent.previewed) {
        QStringList changes;
        for (const std::string& line : SendPreview(link_.form, vars_))
            changes << QString::fromStdString(line);
        SetStatus(StatusText());
        emit PreviewBeforeSend(changes, QString::fromStdString(vars_.PortSerial), consent);
        return;
    }
    SendSerialNumber(link_, [this] { WriteBackup(); });
}

void Connection::SideReadEnded(Variables::SideRead kind) {
    if (kind == Variables::SideRead::Copy && std::exchange(sendPending_, false)) {
        try {
            StartSend(consent_, true);
        } catch (const std::exception& error) {
            SetStatus(StatusText());
            Report(error);
        }
        return;
    }
    if (kind != Variables::SideRead::Identity) return;
    serialReported_ = false;
    const std::string before = std::exchange(serialBeforeLoss_, std::string());
    const std::string now = vars_.PortSerial;
    shownSerial_ = now;
    if (!before.empty() && !now.empty() && now != before) {
        const QString text =
            QStringLiteral(
                "Another box is behind %1 now: %2, before %3. Download it before "
                "you send.")
                .arg(name_, QString::fromStdString(now), QString::fromStdString(before));
        SetStatus(text);
        emit Failed(text);
        return;
    }
    SetStatus(QStringLiteral("Reconnected to %1: box %2 is back. Nothing was sent.")
                  .arg(name_, QString::fromStdString(now)));
}

void Connection::WriteBackup() {
    const std::vector<uint8_t> bytes = DownloadedTuningFile(vars_);
    if (bytes.empty() || vars_.DownloadedSerial.empty()) return;
    const QString serial = QString::fromStdString(vars_.DownloadedSerial);
    QString path;
    try {
        path = BackupStore::Write(serial, bytes);
    } catch (const FileError& error) {
        throw LinkError(
            QStringLiteral("Cannot write the backup of box %1 to \"%2\" (%3). Nothing "
                           "was sent.")
                .arg(serial, BackupStore::Folder(), QString::fromStdString(error.what()))
                .toStdString());
    }
    qCDebug(lcLink, "%10.3f ms  backup %s", TraceTime(), qPrintable(path));
    lastBackup_ = path;
    pruneBackups_ = true;
    SetStatus(QStringLiteral("Backup of box %1 written to %2").arg(serial, path));
}

void Connection::SelectProgram(int n) {
    if (vars_.LiveDraining) TakeWaitingLiveMessage();
    ::SelectProgram(link_, n);
    AfterExchangeStep();
}

void Connection::SwitchDynoLog() {
    // The last samples show before the stream stops.
    if (vars_.DynoLogging != 0) ShowLive();
    if (vars_.LiveDraining) TakeWaitingLiveMessage();
    liveShowErrorSaid_ = false;
    ::SwitchDynoLog(link_);
    AfterExchangeStep();
}

void Connection::ShowLive() {
    liveShow_.stop();
    if (!vars_.LiveShowDue) return;
    try {
        ShowLiveState(link_.form, vars_);
        liveShowErrorSaid_ = false;
    } catch (const ConversionError& error) {
        // A table cell that is no number: said once, not once a frame.
        vars_.LiveShowDue = false;
        if (!liveShowErrorSaid_) {
            liveShowErrorSaid_ = true;
            Report(error);
        }
    }
}

QString Connection::StatusText() const {
    if (!port_->IsOpen()) {
        if (lostReason_.isEmpty()) return QStringLiteral("Not connected");
        if (reconnect_.isActive()) {
            return QStringLiteral("Connection lost: %1. Waiting up to %2 s for %3 to come back.")
                .arg(lostReason_)
                .arg(kReconnectWindowMs / 1000)
                .arg(name_);
        }
        return QStringLiteral("Connection lost: %1.").arg(lostReason_);
    }
    QString text = QStringLiteral("Connected to %1").arg(name_);
    if (!shownSerial_.empty())
        text += QStringLiteral(", box %1").arg(QString::fromStdString(shownSerial_));
    if (halfWritten_) text += QStringLiteral(". ") + QString::fromLatin1(kHalfWrittenText);
    return text;
}

void Connection::CommandWritten(uint8_t code, size_t bytes) {
    bytesWritten_ += bytes;
    qCDebug(lcLink, "%10.3f ms  wrote  %-14s 0x%02X, %zu bytes, answer due in %.1f ms", TraceTime(),
            CommandName(code, vars_.Edition()), code, bytes,
            vars_.Awaiting == 0 ? 0.0
                                : std::chrono::duration<double, std::milli>(
                                      vars_.AnswerDue - std::chrono::steady_clock::now())
                                      .count());
}

void Connection::FrameReceived(const FrameEvent& frame) {
    if (vars_.Reading == Variables::SideRead::None && frame.kind != FrameKind::LiveSample &&
        frame.kind != FrameKind::Ack) {
        const std::span<const uint8_t> chain = DownloadChain(vars_.Edition());
        if (!chain.empty() && frame.code == chain.back()) tablesRead_ = true;
    }
    if (frame.kind == FrameKind::SerialReport) serialReported_ = true;
    // The box's content has been read whole since it may have been half-written.
    if (frame.kind == FrameKind::Configuration && vars_.Reading == Variables::SideRead::None)
        halfWritten_ = false;
    if (frame.kind == FrameKind::LiveSample) emit LiveSampleReceived(frame.live);
    qCDebug(lcLink, "%10.3f ms  framed %-14s 0x%02X, %zu bytes", TraceTime(),
            FrameKindName(frame.kind), frame.code, frame.size);
}

double Connection::TraceTime() const {
    return static_cast<double>(traceClock_.nsecsElapsed()) / 1e6;
}

void Connection::ReadAvailable() {
    // Waiting for bytes below delivers the port's notice again from inside; the loop here
    // reads whatever that brought.
    if (receiving_) return;
    receiving_ = true;
    const uint64_t readBefore = bytesRead_;
    try {
        int waits = 0;
        for (int round = 0;; ++round) {
            const qint64 waiting = port_->BytesAvailable();
            if (waiting == 0) {
                // A short answer follows its command within a few milliseconds: taking it
                // now, before the window repaints, keeps a chain at the pace of the line.
                if (waits >= 16 || !ShortAnswerAwaited(vars_) || !port_->WaitForBytes(5)) break;
                ++waits;
                continue;
            }
            if (round >= 64) {
                // A steady stream must not keep the window from its other work: the rest is
                // read on the next turn of the event loop.
                QMetaObject::invokeMethod(this, &Connection::ReadAvailable, Qt::QueuedConnection);
                break;
            }
            const QByteArray bytes = port_->Read(waiting);
            bytesRead_ += static_cast<uint64_t>(bytes.size());
            if (drainQuiet_.isActive()) drainQuiet_.start();
            ReceiveBytes(link_, reinterpret_cast<const uint8_t*>(bytes.constData()),
                         static_cast<size_t>(bytes.size()));
        }
    } catch (const std::exception& error) {
        Report(error);
    }
    receiving_ = false;
    // The quiet time counts from the last byte.
    if (bytesRead_ != readBefore) {
        if (LiveMessageWaiting(vars_)) {
            liveQuiet_.start();
        } else {
            liveQuiet_.stop();
        }
    }
    AfterExchangeStep();
}

void Connection::OnLiveQuiet() {
    // Bytes that came while the thread was busy mean the line was not quiet.
    const uint64_t readBefore = bytesRead_;
    port_->WaitForBytes(0);
    ReadAvailable();
    if (bytesRead_ != readBefore) return;
    TakeWaitingLiveMessage();
    AfterExchangeStep();
}

void Connection::TakeWaitingLiveMessage() {
    liveQuiet_.stop();
    try {
        LiveLineQuiet(link_);
    } catch (const std::exception& error) {
        Report(error);
    }
}

void Connection::Report(const std::exception& error) {
    qCDebug(lcLink, "%10.3f ms  error: %s", TraceTime(), error.what());
    emit Failed(QString::fromStdString(error.what()));
}

void Connection::AfterExchangeStep() {
    if (const auto ended = std::exchange(vars_.ReadingEnded, Variables::SideRead::None);
        ended != Variables::SideRead::None) {
        SideReadEnded(ended);
    }
    ArmDeadline();
    if (vars_.LiveShowDue && !liveShow_.isActive()) liveShow_.start(kLiveShowMs);
    // Old backups go a moment after the send's exchanges are over, not on its way.
    if (pruneBackups_ && vars_.Awaiting == 0) {
        pruneBackups_ = false;
        QTimer::singleShot(200, this, &BackupStore::Prune);
    }
    const auto outcome = std::exchange(vars_.VerifyOutcome, Variables::Verification::None);
    if (outcome == Variables::Verification::Verified) {
        serialReported_ = false;
        shownSerial_ = vars_.PortSerial;
        halfWritten_ = false;
        SetStatus(QString::fromLatin1(kVerifiedText));
    } else if (outcome == Variables::Verification::Failed) {
        serialReported_ = false;
        shownSerial_ = vars_.PortSerial;
        halfWritten_ = false;
        SetStatus(StatusText());
        qCDebug(lcLink, "%10.3f ms  verify failed: %zu differences", TraceTime(),
                vars_.Differences.size());
        emit VerifyFailed(QString::fromStdString(VerifyReport(vars_.Differences)));
    }
    if (vars_.DynoLogging != 0 && !liveWatch_.isActive()) {
        liveSeen_ = vars_.LiveMessages;
        liveClock_.start();
        liveSilenceSaid_ = false;
        liveWatch_.start();
    } else if (vars_.DynoLogging == 0 && liveWatch_.isActive()) {
        liveWatch_.stop();
        if (liveSilenceSaid_) SetStatus(StatusText());
    }
    if (std::exchange(tablesRead_, false)) {
        emit TablesReadFromBox(QString::fromStdString(vars_.BoxSerial),
                               outcome != Variables::Verification::None);
    }
    if (serialReported_) {
        serialReported_ = false;
        shownSerial_ = vars_.PortSerial;
        if (vars_.Reading == Variables::SideRead::None) SetStatus(StatusText());
    }
    NoteIdle();
    NoteStream();
    NoteSession();
}

void Connection::NoteStream() {
    if (vars_.DynoLogging != 0) {
        drainQuiet_.stop();
        if (streamSaid_) return;
        streamSaid_ = true;
        emit LiveStreamChanged(true);
        return;
    }
    if (!streamSaid_) return;
    // Switched off: the messages the box sent before it read the switch-off still come.
    if (vars_.LiveDraining && port_->IsOpen()) {
        if (!drainQuiet_.isActive()) drainQuiet_.start();
        return;
    }
    drainQuiet_.stop();
    streamSaid_ = false;
    emit LiveStreamChanged(false);
}

void Connection::NoteIdle() {
    const bool awaiting = vars_.Awaiting != 0;
    const bool ended = wasAwaiting_ && !awaiting;
    wasAwaiting_ = awaiting;
    if (ended) emit Idle();
}

void Connection::ArmDeadline() {
    if (vars_.Awaiting == 0 || vars_.DynoLogging != 0 || !port_->IsOpen()) {
        deadline_.stop();
        return;
    }
    const auto left = vars_.AnswerDue - std::chrono::steady_clock::now();
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    deadline_.start(static_cast<int>(std::max<int64_t>(ms, 0)) + 1);
}

void Connection::OnDeadline() {
    // An answer that came while the window was busy is taken first.
    ReadAvailable();
    // What was under way, before the overdue answer resets it.
    const Variables::SideRead reading = vars_.Reading;
    const bool sending = vars_.Verifying;
    const uint8_t asked = vars_.AskedCommand;
    std::string message = AnswerOverdue(link_);
    if (message.empty()) {
        ArmDeadline();
        return;
    }
    qCDebug(lcLink, "%10.3f ms  overdue: %s", TraceTime(), message.c_str());
    const bool sendWaited = std::exchange(sendPending_, false);
    if (reading == Variables::SideRead::Identity) {
        // The box that came back does not answer yet: the status bar keeps the reconnect.
        NoteIdle();
        return;
    }
    if (sendWaited) message += " Nothing was sent.";
    if (sending) {
        message = SendOverdueText(message, vars_, asked, lastBackup_.toStdString());
        halfWritten_ = halfWritten_ || IsSendWrite(asked);
    }
    SetStatus(StatusText());
    NoteIdle();
    emit Failed(QString::fromStdString(message));
}

void Connection::OnLost(const QString& reason) {
    TakeWaitingLiveMessage();
    ShowLive();
    deadline_.stop();
    liveWatch_.stop();
    // The port is closed already: the stream is switched off here without a word to it.
    if (vars_.DynoLogging != 0) {
        vars_.DynoLogging = 0;
        link_.form.ControlByName(Ctl::ButtonDynoLog).SetCaption("Dyno log ON");
        link_.form.ControlByName(Ctl::Shape2).SetColor(clRed);
    }
    ShowLinkButtons(link_.form, vars_, false);
    ResetExchange(vars_);
    lostReason_ = reason;
    if (!PseudoTerminal(name_)) {
        reconnectClock_.start();
        reconnect_.start();
    }
    qCDebug(lcLink, "%10.3f ms  lost: %s", TraceTime(), qPrintable(reason));
    SetStatus(StatusText());
    NoteIdle();
    emit Lost(reason);
    NoteStream();
}

void Connection::TryReconnect() {
    if (reconnectClock_.elapsed() > kReconnectWindowMs) {
        reconnect_.stop();
        SetStatus(StatusText());
        return;
    }
    const QString wanted = name_;
    for (const QString& candidate : {name_, byIdLink_}) {
        if (candidate.isEmpty() || !TApdComPort::Available(candidate)) continue;
        try {
            port_->SetPortName(candidate);
            port_->SetOpen(true);
        } catch (const LinkError&) {
            continue;
        }
        reconnect_.stop();
        name_ = wanted;
        ResetExchange(vars_);
        lostReason_.clear();
        // The box behind the port may be another one now: what was read before is no copy
        // of it, and its serial number is read (a read: nothing is written).
        serialBeforeLoss_ = !vars_.PortSerial.empty() ? vars_.PortSerial : vars_.TablesSerial;
        vars_.PortSerial.clear();
        vars_.DownloadedSerial.clear();
        vars_.DownloadedFile.clear();
        shownSerial_.clear();
        qCDebug(lcLink, "%10.3f ms  reconnected to %s", TraceTime(), qPrintable(candidate));
        SetStatus(
            QStringLiteral("Reconnected to %1: the port came back. Nothing was sent.").arg(name_));
        emit Reconnected();
        try {
            ReadBoxAside(link_, false);
        } catch (const std::exception&) {
        }
        AfterExchangeStep();
        return;
    }
}

void Connection::WatchLiveStream() {
    if (vars_.DynoLogging == 0) {
        liveWatch_.stop();
        return;
    }
    if (vars_.LiveMessages != liveSeen_) {
        liveSeen_ = vars_.LiveMessages;
        liveClock_.restart();
        if (liveSilenceSaid_) {
            liveSilenceSaid_ = false;
            SetStatus(StatusText());
        }
        return;
    }
    if (!liveSilenceSaid_ && liveClock_.elapsed() >= kLiveSilenceMs) {
        liveSilenceSaid_ = true;
        SetStatus(QStringLiteral(
            "No live data from the box for 2 s; the dyno log stays on. Check the box's power."));
    }
}

void Connection::SetStatus(const QString& text) {
    if (text != status_) {
        status_ = text;
        emit StatusChanged(text);
    }
    NoteSession();
}

SessionState Connection::State() const {
    SessionState state;
    state.port = name_;
    state.status = status_;
    state.boxSerial = QString::fromStdString(port_->IsOpen() ? vars_.PortSerial : std::string());
    state.halfWritten = halfWritten_;
    state.buttons = LinkButtonsFor(vars_, port_->IsOpen());
    state.origin = origin_;
    state.changes = changes_;
    using Phase = SessionState::Phase;
    if (!port_->IsOpen()) {
        state.phase = reconnect_.isActive() ? Phase::WaitingForPort : Phase::Disconnected;
    } else if (vars_.DynoLogging != 0) {
        state.phase = Phase::Streaming;
    } else if (vars_.LiveDraining || streamSaid_) {
        state.phase = Phase::Draining;
    } else if (vars_.Awaiting != 0 && ExchangeInProgress(vars_)) {
        state.phase = Phase::Exchange;
        state.exchange = vars_.Reading != Variables::SideRead::None
                             ? QStringLiteral("Reading the box")
                         : vars_.Verifying ? QStringLiteral("Send")
                                           : QStringLiteral("Download");
        if (const CommandRow* row = FindCommand(vars_.AskedCommand, vars_.LinkEdition()))
            state.step = QString::fromLatin1(row->what);
    } else {
        state.phase = Phase::Idle;
    }
    return state;
}

void Connection::SetTablesOrigin(const TablesOrigin& origin) {
    origin_ = origin;
    NoteSession();
}

void Connection::SetTablesChanges(int changes) {
    changes_ = changes;
    NoteSession();
}

void Connection::NoteSession() {
    SessionState now = State();
    if (now == said_) return;
    said_ = std::move(now);
    emit SessionChanged();
}
