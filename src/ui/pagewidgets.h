#pragma once
// Pieces the connection and server pages share: read-only report lists with
// fixed column captions and widths, and the row of named buttons.
#include <QList>
#include <QStringList>

class QHBoxLayout;
class QPushButton;
class QTreeWidget;
class QWidget;

QTreeWidget *makeReportList(const QString &objectName, const QStringList &columns, const QList<int> &widths,
                            QWidget *parent);

// A push button with its object name, added to the row.
QPushButton *addButton(QHBoxLayout *row, const QString &objectName, const QString &text, QWidget *parent);
