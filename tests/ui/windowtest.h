#pragma once
// What the window tests share: where screenshots go, a list's column titles.
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTreeWidget>

inline QString shotPath(const QString &name)
{
    return qEnvironmentVariable("TOLVA_SCREENSHOT_DIR", QStringLiteral(".")) + QLatin1Char('/') + name;
}

inline QStringList headers(const QTreeWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->columnCount(); ++i)
        out << list->headerItem()->text(i);
    return out;
}

// Keys as the operator types them, letters beyond ASCII included (QTest's own
// keyClicks takes ASCII only).
inline void typeText(QWidget *widget, const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x80)
            QTest::keyClick(widget, c.toLatin1());
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}
