#pragma once
// The --network-view window: every station of the fleet as the broker shows
// it, stations needing attention first, their pages beneath them, and the
// program's message lines.
#include <QWidget>

class MessageLog;
class NetworkFleet;
class QLabel;
class QTreeWidget;

class FleetWindow : public QWidget {
    Q_OBJECT
public:
    // fleet may be null (no broker configured): the window says so.
    FleetWindow(NetworkFleet *fleet, MessageLog &log, QWidget *parent = nullptr);

    void refresh();
    QTreeWidget *list() const { return m_list; }
    QLabel *summary() const { return m_summary; }

private:
    NetworkFleet *m_fleet;
    QLabel *m_summary;
    QTreeWidget *m_list;
};
