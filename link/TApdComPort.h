#pragma once
// The serial port as the window uses it: 115200 baud, 8 data bits, no parity, 1 stop bit,
// no flow control, DTR and RTS raised, 4096-byte buffers.
#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QStringList>
#include <QTimer>

#include "Link.h"

class TApdComPort : public QObject, public ComPort {
    Q_OBJECT
  public:
    static constexpr qint32 kBaud = 115200;
    static constexpr qint64 kBufferSize = 4096;

    explicit TApdComPort(QObject* parent = nullptr);
    ~TApdComPort() override;

    // The port to open next: a system name (ttyUSB0, COM3) or a device path (/dev/pts/3).
    void SetPortName(const QString& name);
    QString PortName() const { return name_; }
    // The number at the end of the port's name (COM12 gives 12, /dev/pts/3 gives 3), or -1.
    int ComNumber() const { return NumberAtEnd(name_); }
    static int NumberAtEnd(const QString& name);

    // Opens with the line settings above; throws LinkError with the system's reason when
    // the port cannot be opened. Closing never fails.
    void SetOpen(bool open);
    bool IsOpen() const override;

    void PutChar(uint8_t byte) override;
    void PutString(const std::string& text) override;
    void PutBlock(const uint8_t* data, size_t count) override;
    // Holds the bytes queued after it until more than `ms` milliseconds have passed; the window's
    // thread goes on meanwhile. Bytes queued while a pause holds them go out together when it ends:
    // in the image upload each 32-byte block takes longer on the wire than the pause behind it.
    void Pause(int ms) override;
    // Closes once `ms` milliseconds have passed, so that what was written last can leave;
    // until then the port counts as closed and takes no more bytes.
    void CloseAfter(int ms);

    // The next received byte, or -1 when none is waiting.
    int GetChar();
    // Up to `count` received bytes.
    QByteArray Read(qint64 count);
    qint64 BytesAvailable() const { return port_.isOpen() ? port_.bytesAvailable() : 0; }
    // Waits up to `ms` milliseconds for more received bytes; true when some arrived.
    bool WaitForBytes(int ms);

    // True when the port exists and can be opened with exclusive access now.
    static bool Available(const QString& name);
    // The ports offered to the user: on Windows COM1..COM49, elsewhere the system's serial
    // ports, in natural order; only those that can be opened now.
    static QStringList AvailablePorts();
    // The ports that can be opened now, as the window lists them: `extra` first (such as a
    // simulated box's pseudo-terminal), then the system's.
    static QStringList OpenablePorts(const QStringList& extra);

  signals:
    // Received bytes are waiting; count is how many.
    void TriggerAvail(quint16 count);
    // The port failed or the far end hung up; the port is closed already.
    void ConnectionLost(const QString& reason);

  private:
    void OnError(QSerialPort::SerialPortError error);
    void Release();
    void WriteNow(const char* data, qint64 count);

    QSerialPort port_;
    QString name_;
    QByteArray held_;
    bool holding_ = false;
    bool closing_ = false;
    QTimer* releaseTimer_;
    QTimer* closeTimer_;
};
