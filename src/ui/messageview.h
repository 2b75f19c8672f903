#pragma once
// A read-only view of the message list, newest line first, each line in the
// colour of its content (red for "ERROR", blue for "DEBUG", else black).
// New lines are inserted at the top; the view never rebuilds per line.
#include <QTextEdit>

class MessageLog;

class MessageView : public QTextEdit {
    Q_OBJECT
public:
    explicit MessageView(MessageLog &log, QWidget *parent = nullptr);

    // Rebuilds the view from the whole list.
    void redraw();
    // Follow new lines as they are logged (on by default).
    void setFollowing(bool on) { m_following = on; }

    static QColor colourFor(const QString &line);

private:
    void prepend(const QString &line);

    MessageLog &m_log;
    bool m_following = true;
};
