#pragma once
// "Server Connections Log": a list of client connections (host, address,
// port, date, time), shown modally from a server page.
#include <QDialog>

class QTreeWidget;
class RelayServer;

class ServerLogWindow : public QDialog {
    Q_OBJECT
public:
    explicit ServerLogWindow(QWidget *parent = nullptr);

    QTreeWidget *list() const { return m_list; }
    // Shows the server's client connections, newest first.
    void showLog(const RelayServer &server);

private:
    QTreeWidget *m_list;
};
