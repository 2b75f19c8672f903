#pragma once
// The window side of one relay server page: title, status row, client list
// with its count, and the four buttons. It shows what the server computes and
// passes the button presses on.
#include <QWidget>

class QLabel;
class QTreeWidget;
class RelayServer;
class ServerConfigDialog;
class ServerLogWindow;

class ServerPageView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 350;
    static constexpr int kHeight = 300;

    explicit ServerPageView(RelayServer *server, QWidget *parent = nullptr);

    RelayServer *server() const { return m_server; }
    QTreeWidget *statusList() const { return m_status; }
    QTreeWidget *clientList() const { return m_clients; }
    QLabel *connectionsLabel() const { return m_count; }

    // When set, "Configure" and "View Log" open these modally for this server;
    // the signals below are emitted either way.
    void setDialogs(ServerConfigDialog *config, ServerLogWindow *log);

    QSize sizeHint() const override { return {kWidth, kHeight}; }

signals:
    void configureRequested(int serverNumber);
    void viewLogRequested(int serverNumber);

private:
    void refreshStatus();
    void refreshClients();
    void onConfigure();
    void onViewLog();

    RelayServer *m_server;
    QTreeWidget *m_status;
    QTreeWidget *m_clients;
    QLabel *m_count;
    ServerConfigDialog *m_configDialog = nullptr;
    ServerLogWindow *m_logWindow = nullptr;
};
