#pragma once
// The window side of one connection page: heading, connection list,
// hardware list and the four buttons. It shows what the page computes and
// passes the button presses on; it computes nothing itself.
#include <QWidget>

class ConnectionPage;
class QPushButton;
class QTreeWidget;

class ConnectionPageView : public QWidget {
    Q_OBJECT
public:
    explicit ConnectionPageView(ConnectionPage &page, QWidget *parent = nullptr);

    ConnectionPage &page() const { return m_page; }
    QTreeWidget *connectionList() const { return m_connections; }
    QTreeWidget *hardwareList() const { return m_hardware; }

signals:
    void configureRequested(int pageNumber);
    void updateRequested(int pageNumber);

private:
    void refreshConnections();
    void refreshHardware();
    void refreshState(const QString &text);

    ConnectionPage &m_page;
    QTreeWidget *m_connections;
    QTreeWidget *m_hardware;
    QPushButton *m_update;
};
