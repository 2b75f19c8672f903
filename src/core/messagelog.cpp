#include "core/messagelog.h"

#include "core/clock.h"
#include "core/datetime.h"
#include "core/outsidetext.h"

#include <cstdio>

MessageLog::MessageLog(const Clock &clock, QObject *parent) : QObject(parent), m_clock(clock) {}

QString MessageLog::formatLine(const QString &dateTime, const QString &source, const QString &text, int level)
{
    switch (level) {
    case 0:
        return QStringLiteral("ERROR (") + dateTime + QStringLiteral("):   <") + source + QStringLiteral(">   ") + text;
    case 1:
        return QStringLiteral("STATUS(") + dateTime + QStringLiteral("):   <") + source + QStringLiteral(">   ") + text;
    case 2:
        return QStringLiteral("DEBUG <") + source + QStringLiteral("> ") + text;
    default:
        return QString();
    }
}

LineColour MessageLog::colourOf(const QString &line)
{
    if (line.contains(QLatin1String("ERROR")))
        return LineColour::Red;
    if (line.contains(QLatin1String("DEBUG")))
        return LineColour::Blue;
    return LineColour::Black;
}

void MessageLog::log(const QString &source, const QString &text, int level)
{
    addLine(formatLine(datetime::messageText(m_clock.now()), source, text, level), true);
}

void MessageLog::addLine(const QString &text, bool notifyExpanded)
{
    // The program's own texts hold no control characters and stay far below
    // the limit; anything from outside that slipped through unshown is made
    // harmless here (the callers cut it to 200 characters with "…").
    const QString line = outsidetext::shown(text, kMaxLineChars);
    m_lines.push_front(line);
    while (m_lines.size() > size_t(kMaxLines))
        m_lines.pop_back();
    if (m_echo) {
        const QByteArray bytes = line.toLocal8Bit() + '\n';
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
    emit lineAdded(line, notifyExpanded);
}

void MessageLog::clear()
{
    m_lines.clear();
    emit cleared();
}

QString MessageLog::line(int index) const
{
    return index >= 0 && index < count() ? m_lines[size_t(index)] : QString();
}

QStringList MessageLog::lines() const
{
    QStringList out;
    out.reserve(count());
    for (const QString &l : m_lines)
        out << l;
    return out;
}
