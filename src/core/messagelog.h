#pragma once
// The program-wide message list: one line per event, newest first, bounded.
// Windows observe it through lineAdded/cleared and append; they never rebuild
// per line. Every line also goes to standard error as it is logged, so a
// service manager's journal keeps it.
#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>

class Clock;

enum class LogLevel { Error = 0, Status = 1, Debug = 2 };

enum class LineColour { Black, Red, Blue };

class MessageLog : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 10000;
    static constexpr int kMaxLineChars = 2000;

    explicit MessageLog(const Clock &clock, QObject *parent = nullptr);

    // Builds the line by the level's format and inserts it as the newest.
    // An unknown level code gives an empty line.
    void log(const QString &source, const QString &text, int level);
    void log(const QString &source, const QString &text, LogLevel level) { log(source, text, int(level)); }

    // A line built elsewhere (the socket error hook). Control characters are
    // shown escaped and a line is cut at kMaxLineChars.
    void addLine(const QString &line, bool notifyExpanded = true);

    void clear();

    // Index 0 is the newest line.
    int count() const { return int(m_lines.size()); }
    QString line(int index) const;
    QStringList lines() const;

    void setEchoToStderr(bool on) { m_echo = on; }
    const Clock &clock() const { return m_clock; }

    static QString formatLine(const QString &dateTime, const QString &source, const QString &text, int level);
    static LineColour colourOf(const QString &line);

signals:
    // notifyExpanded: the expanded message window should refresh (connection
    // pages ask for it, relay-server lines and the socket hook do not).
    void lineAdded(const QString &line, bool notifyExpanded);
    void cleared();

private:
    const Clock &m_clock;
    std::deque<QString> m_lines; // front = newest
    bool m_echo = true;
};
