#include "TApdComPort.h"

#include <QCollator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <algorithm>
#include <utility>

namespace {
// The device file behind a port's name, as QSerialPort finds it: a path as it is, a bare
// name (ttyUSB0) under /dev.
QString DeviceFile(const QString& name) {
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./")) ||
        name.startsWith(QLatin1String("../")))
        return name;
    return QStringLiteral("/dev/") + name;
}

// When the device file itself keeps this user out, how to get in. On Linux serial devices
// belong to a group (dialout on Debian and Ubuntu) whose members may open them; a new
// membership counts from the next login. Empty when the file lets the user in, which makes
// the permission error a lock held by another program.
QString AccessHint(const QString& portName) {
#ifdef Q_OS_LINUX
    const QFileInfo device(DeviceFile(portName));
    if (!device.exists() || (device.isReadable() && device.isWritable())) return {};
    const QString path = device.filePath();
    const QString group = device.group();
    const QFileDevice::Permissions groupMay = QFileDevice::ReadGroup | QFileDevice::WriteGroup;
    if (group.isEmpty() || (device.permissions() & groupMay) != groupMay) {
        return QStringLiteral(
                   ". %1 lets no group of users open it: an administrator must change its "
                   "permissions.")
            .arg(path);
    }
    return QStringLiteral(
               ". To open %1 your user must be a member of the group \"%2\": run \"sudo usermod "
               "-aG %2 $USER\", then log out and log in again.")
        .arg(path, group);
#else
    Q_UNUSED(portName);
    return {};
#endif
}

// A reason a person can act on; the toolkit's own texts name the mechanism instead (a lock
// file that is held reads as a permission error).
QString OpenFailure(QSerialPort::SerialPortError error, const QString& systemText,
                    const QString& portName) {
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return QStringLiteral("the port does not exist (is the box plugged in?)");
        case QSerialPort::PermissionError:
            return QStringLiteral(
                       "the port is in use by another program, or access to it is not allowed "
                       "(%1)")
                       .arg(systemText) +
                   AccessHint(portName);
        case QSerialPort::OpenError:
            return QStringLiteral("the port is already open");
        default:
            return systemText;
    }
}
}  // namespace

TApdComPort::TApdComPort(QObject* parent) : QObject(parent) {
    connect(&port_, &QSerialPort::readyRead, this, [this] {
        const qint64 waiting = port_.bytesAvailable();
        if (waiting > 0) emit TriggerAvail(static_cast<quint16>(std::min<qint64>(waiting, 0xFFFF)));
    });
    connect(&port_, &QSerialPort::errorOccurred, this, &TApdComPort::OnError);
    releaseTimer_ = new QTimer(this);
    releaseTimer_->setSingleShot(true);
    releaseTimer_->setTimerType(Qt::PreciseTimer);
    connect(releaseTimer_, &QTimer::timeout, this, &TApdComPort::Release);
    closeTimer_ = new QTimer(this);
    closeTimer_->setSingleShot(true);
    closeTimer_->setTimerType(Qt::PreciseTimer);
    connect(closeTimer_, &QTimer::timeout, this, [this] { SetOpen(false); });
}

TApdComPort::~TApdComPort() = default;

void TApdComPort::SetPortName(const QString& name) {
    name_ = name.trimmed();
}

int TApdComPort::NumberAtEnd(const QString& name) {
    static const QRegularExpression digits(QStringLiteral("(\\d+)$"));
    const QRegularExpressionMatch match = digits.match(name);
    if (!match.hasMatch()) return -1;
    bool ok = false;
    const int number = match.captured(1).right(6).toInt(&ok);
    return ok ? number : -1;
}

void TApdComPort::SetOpen(bool open) {
    if (!open || closing_) {
        closeTimer_->stop();
        releaseTimer_->stop();
        held_.clear();
        holding_ = false;
        closing_ = false;
        if (port_.isOpen()) port_.close();
        if (!open) return;
    }
    if (port_.isOpen()) return;
    if (name_.isEmpty()) throw LinkError("No port chosen: pick or type the port of the box.");
    port_.setPortName(name_);
    port_.setReadBufferSize(kBufferSize);
    if (!port_.open(QIODevice::ReadWrite)) {
        const QString reason = OpenFailure(port_.error(), port_.errorString(), name_);
        port_.clearError();
        throw LinkError(
            QStringLiteral("Cannot open port \"%1\": %2").arg(name_, reason).toStdString());
    }
    port_.setBaudRate(kBaud);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    // A pseudo-terminal or an adapter without modem lines refuses these; that is harmless.
    port_.setDataTerminalReady(true);
    port_.setRequestToSend(true);
    port_.clearError();
}

bool TApdComPort::IsOpen() const {
    return port_.isOpen() && !closing_;
}

void TApdComPort::CloseAfter(int ms) {
    if (!port_.isOpen()) return;
    Release();
    closing_ = true;
    closeTimer_->start(ms);
}

void TApdComPort::PutChar(uint8_t byte) {
    PutBlock(&byte, 1);
}

void TApdComPort::PutString(const std::string& text) {
    PutBlock(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void TApdComPort::PutBlock(const uint8_t* data, size_t count) {
    if (!IsOpen()) return;
    const char* bytes = reinterpret_cast<const char*>(data);
    if (holding_) {
        held_.append(bytes, static_cast<qsizetype>(count));
        return;
    }
    WriteNow(bytes, static_cast<qint64>(count));
}

void TApdComPort::WriteNow(const char* data, qint64 count) {
    port_.write(data, count);
    // Hand the bytes to the system now rather than on a later turn of the event loop, so
    // that a command leaves before the window repaints what its answer changed.
    port_.flush();
}

void TApdComPort::Pause(int ms) {
    if (!IsOpen() || holding_) return;
    holding_ = true;
    // A millisecond more than asked: the timer counts whole milliseconds, and the system may
    // hand the bytes before to the line a little after the write returns.
    releaseTimer_->start(ms + 1);
}

void TApdComPort::Release() {
    releaseTimer_->stop();
    holding_ = false;
    if (held_.isEmpty() || !port_.isOpen()) {
        held_.clear();
        return;
    }
    const QByteArray bytes = std::exchange(held_, {});
    WriteNow(bytes.constData(), bytes.size());
}

int TApdComPort::GetChar() {
    char byte = 0;
    if (!port_.isOpen() || port_.read(&byte, 1) != 1) return -1;
    return static_cast<uint8_t>(byte);
}

QByteArray TApdComPort::Read(qint64 count) {
    if (!port_.isOpen()) return {};
    return port_.read(count);
}

bool TApdComPort::WaitForBytes(int ms) {
    if (!port_.isOpen()) return false;
    const qint64 before = port_.bytesAvailable();
    return port_.waitForReadyRead(ms) && port_.bytesAvailable() > before;
}

void TApdComPort::OnError(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
        case QSerialPort::ResourceError: {
            // The port keeps raising this until it is closed: close it at once. The system's
            // text at this point may be left over from an earlier call, so say what happened.
            const QString reason =
                error == QSerialPort::ResourceError
                    ? QStringLiteral("the device was removed or the other end hung up")
                : error == QSerialPort::ReadError ? QStringLiteral("reading from the port failed")
                                                  : QStringLiteral("writing to the port failed");
            port_.clearError();
            if (port_.isOpen()) {
                const bool asked = closing_;
                SetOpen(false);
                if (!asked) emit ConnectionLost(reason);
            }
            break;
        }
        default:
            // NoError comes with every open; a missing modem line on a pseudo-terminal is
            // UnsupportedOperationError. Neither ends the connection.
            break;
    }
}

bool TApdComPort::Available(const QString& name) {
    QSerialPort probe;
    probe.setPortName(name);
    if (!probe.open(QIODevice::ReadWrite)) return false;
    probe.close();
    return true;
}

QStringList TApdComPort::AvailablePorts() {
    QStringList names;
#ifdef Q_OS_WIN
    for (int n = 1; n <= 49; ++n) {
        const QString name = QStringLiteral("COM%1").arg(n);
        if (Available(name)) names << name;
    }
#else
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (Available(info.systemLocation())) names << info.portName();
    }
    QCollator natural;
    natural.setNumericMode(true);
    std::sort(names.begin(), names.end(),
              [&](const QString& a, const QString& b) { return natural.compare(a, b) < 0; });
#endif
    return names;
}

QStringList TApdComPort::OpenablePorts(const QStringList& extra) {
    QStringList ports;
    for (const QString& port : extra) {
        if (Available(port)) ports << port;
    }
    for (const QString& port : AvailablePorts()) {
        if (!ports.contains(port)) ports << port;
    }
    return ports;
}
