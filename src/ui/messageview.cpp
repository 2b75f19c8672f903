#include "ui/messageview.h"

#include "core/messagelog.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

MessageView::MessageView(MessageLog &log, QWidget *parent) : QTextEdit(parent), m_log(log)
{
    setReadOnly(true);
    setLineWrapMode(QTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(&log, &MessageLog::lineAdded, this, [this](const QString &line, bool) {
        if (m_following)
            prepend(line);
    });
    connect(&log, &MessageLog::cleared, this, [this] {
        if (m_following)
            clear();
    });
}

QColor MessageView::colourFor(const QString &line)
{
    switch (MessageLog::colourOf(line)) {
    case LineColour::Red: return Qt::red;
    case LineColour::Blue: return Qt::blue;
    default: return Qt::black;
    }
}

void MessageView::prepend(const QString &line)
{
    QTextDocument *doc = document();
    const bool wasEmpty = doc->isEmpty();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::Start);
    QTextCharFormat format;
    format.setForeground(colourFor(line));
    cursor.insertText(line, format);
    if (!wasEmpty)
        cursor.insertBlock();
    // Keep as many lines as the list keeps: drop the oldest at the bottom.
    while (doc->blockCount() > MessageLog::kMaxLines) {
        QTextCursor last(doc->lastBlock());
        last.select(QTextCursor::BlockUnderCursor);
        last.removeSelectedText();
    }
    verticalScrollBar()->setValue(0);
}

void MessageView::redraw()
{
    clear();
    QTextCursor cursor(document());
    const QStringList lines = m_log.lines();
    for (int i = 0; i < lines.size(); ++i) {
        QTextCharFormat format;
        format.setForeground(colourFor(lines[i]));
        if (i > 0)
            cursor.insertBlock();
        cursor.insertText(lines[i], format);
    }
    verticalScrollBar()->setValue(0);
}
