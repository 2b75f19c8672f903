// A simulated device on the far end of a link: bytes in, bytes out.
// Transports and the modem only move bytes; everything a device says is
// decided here, on the Qt event loop (replies may be delayed by timers).
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// What the units' options and text dialogues share: numbers, log-in levels
// and hex digits.
// A whole number from min to max; *ok false for anything else.
int rangedNumber(const QString &text, int min, int max, bool *ok);
enum Level { LevelNone = 0, LevelObserver = 1, LevelOperator = 2, LevelSupervisor = 3 };
// "SUPERVISOR" / "OPERATOR" / "OBSERVER" (any case) -> level; 0 when unknown.
int parseLevel(const QString &text);
QByteArray levelWord(int level);
// Upper-case hex digit -> value; -1 for anything else.
int hexDigit(char c);
// Hex pairs -> bytes; false on any other character (lower-case digits too,
// unless `lowerToo`).
bool hexBytes(const QByteArray &text, QByteArray *out, bool lowerToo = false);

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

protected:
    // How the unit answers: after delayMs (0: at once), or not at all.
    void setReplies(int delayMs, bool silent)
    {
        replyDelayMs_ = delayMs;
        silent_ = silent;
    }
    // Sends an answer, traced under `name` (or as a frame); one still on its
    // timer when dropPendingReplies() is called is never sent.
    void reply(const QByteArray &bytes, const QString &name, bool isFrame = false);
    void dropPendingReplies() { ++generation_; }

private:
    int callerRate_ = 0;
    int replyDelayMs_ = 0;
    bool silent_ = false;
    int generation_ = 0;
};
