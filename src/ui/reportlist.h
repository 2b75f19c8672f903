#pragma once
// A read-only report list with fixed column captions and widths, as the
// pages show their connections, hardware and clients.
#include <QList>
#include <QStringList>

class QTreeWidget;
class QWidget;

QTreeWidget *makeReportList(const QString &objectName, const QStringList &columns, const QList<int> &widths,
                            QWidget *parent);
