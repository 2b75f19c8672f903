// A simulated device on the far end of a link: bytes in, bytes out.
// Transports and the modem only move bytes; everything a device says is
// decided here, on the Qt event loop (replies may be delayed by timers).
#pragma once

#include <QByteArray>
#include <QObject>

class Unit : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~Unit() override = default;

    // Bytes from the computer, in any split: a unit must cope with commands
    // cut across reads and with garbage.
    virtual void receive(const QByteArray &bytes) = 0;
    // A new caller is on the line (TCP accept, pty opened, modem CONNECT).
    virtual void linkUp() {}
    // The caller went away (socket closed, pty closed, modem hung up).
    virtual void linkDown() {}
    // The caller's line rate in baud, as its serial port is set (a pty
    // tells; 0 where a line has none).
    void setCallerRate(int baud) { callerRate_ = baud; }
    int callerRate() const { return callerRate_; }

signals:
    void output(const QByteArray &bytes);

private:
    int callerRate_ = 0;
};
