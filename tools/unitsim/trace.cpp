#include "trace.h"

#include <QDateTime>
#include <QFile>

namespace {
Trace *theTrace = nullptr;
// A trace is for reading, not for filling a disk: cap the bytes shown per line.
constexpr int maxBytesPerLine = 512;
}

Trace *globalTrace() { return theTrace; }
void setGlobalTrace(Trace *trace) { theTrace = trace; }

Trace::Trace(const QString &path) : file_(new QFile(path))
{
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        delete file_;
        file_ = nullptr;
    }
}

Trace::~Trace() { delete file_; }

bool Trace::isOpen() const { return file_ != nullptr; }

double Trace::dayNumber(const QDateTime &when)
{
    const QDateTime local = when.toLocalTime();
    const qint64 days = QDate(1899, 12, 30).daysTo(local.date());
    return double(days) + double(local.time().msecsSinceStartOfDay()) / 86400000.0;
}

QByteArray Trace::spacedHex(const QByteArray &bytes)
{
    QByteArray shown = bytes.left(maxBytesPerLine).toHex(' ').toUpper();
    if (bytes.size() > maxBytesPerLine)
        shown += " ...";
    return shown;
}

void Trace::received(const QByteArray &bytes, const QString &name)
{
    writeLine(QStringLiteral("RX ") + QString::fromLatin1(spacedHex(bytes)) + QLatin1Char(' ') + name);
}

void Trace::sent(const QByteArray &bytes, const QString &name)
{
    writeLine(QStringLiteral("TX ") + QString::fromLatin1(spacedHex(bytes)) + QLatin1Char(' ') + name);
}

void Trace::frame(const QByteArray &bytes)
{
    // One instant for both stamps, so the line and the day number agree.
    const QDateTime now = QDateTime::currentDateTime();
    writeLine(QStringLiteral("FRAME ") + QString::number(dayNumber(now), 'g', 17) + QLatin1Char(' ')
                  + QString::fromLatin1(bytes.toHex().toUpper()),
              now.time());
}

void Trace::note(const QString &text) { writeLine(QStringLiteral("NOTE ") + text); }

void Trace::writeLine(const QString &line) { writeLine(line, QTime::currentTime()); }

void Trace::writeLine(const QString &line, const QTime &when)
{
    if (!file_)
        return;
    const QString stamp = when.toString(QStringLiteral("HH:mm:ss.zzz"));
    file_->write((stamp + QLatin1Char(' ') + line + QLatin1Char('\n')).toLatin1());
    file_->flush();
}
