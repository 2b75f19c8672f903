#pragma once
// What the window tests share: where screenshots go, a list's column titles.
#include <QString>
#include <QStringList>
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
