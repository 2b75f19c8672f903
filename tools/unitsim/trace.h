// Optional record of what the simulated unit received and sent, so tests can
// compare both sides. One line per event:
//   <hh:mm:ss.zzz> RX <hex bytes> <name>
//   <hh:mm:ss.zzz> TX <hex bytes> <name>
//   <hh:mm:ss.zzz> FRAME <days since 1899-12-30, local> <hex of the frame>
#pragma once

#include <QByteArray>
#include <QString>

class QDateTime;
class QFile;
class QTime;

class Trace
{
public:
    explicit Trace(const QString &path);
    ~Trace();
    Trace(const Trace &) = delete;
    Trace &operator=(const Trace &) = delete;

    bool isOpen() const;
    void received(const QByteArray &bytes, const QString &name);
    void sent(const QByteArray &bytes, const QString &name);
    void frame(const QByteArray &bytes);
    void note(const QString &text);

    // Days since 1899-12-30 in local time, time of day as the fraction.
    static double dayNumber(const QDateTime &when);
    static QByteArray spacedHex(const QByteArray &bytes);

private:
    void writeLine(const QString &line);
    void writeLine(const QString &line, const QTime &when);
    QFile *file_ = nullptr;
};

// Program-wide trace; null when tracing is off.
Trace *globalTrace();
void setGlobalTrace(Trace *trace);
