#include "ui/serverlogwindow.h"

#include "server/relayserver.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <QVBoxLayout>

ServerLogWindow::ServerLogWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ServerLog"));
    setWindowTitle(QStringLiteral("Server Connections Log"));
    setModal(true);
    auto *layout = new QVBoxLayout(this);
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("ListView1"));
    m_list->setRootIsDecorated(false);
    m_list->setHeaderLabels({QStringLiteral("Host"), QStringLiteral("Address"), QStringLiteral("Port"),
                             QStringLiteral("Date"), QStringLiteral("Time")});
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->header()->setStretchLastSection(false);
    m_list->setColumnWidth(0, 170);
    m_list->header()->setMinimumSectionSize(40);
    m_list->setColumnWidth(1, 120);
    for (int i = 2; i < 5; ++i)
        m_list->setColumnWidth(i, 65);
    layout->addWidget(m_list);
    resize(520, 300);
}

void ServerLogWindow::showLog(const RelayServer &server)
{
    setWindowTitle(QStringLiteral("Server Connections Log"));
    m_list->clear();
    const auto &log = server.connectionLog();
    for (auto it = log.rbegin(); it != log.rend(); ++it)
        new QTreeWidgetItem(m_list, {it->host, it->address, QString::number(it->port),
                                     it->when.toString(QStringLiteral("M/d/yyyy")),
                                     it->when.toString(QStringLiteral("HH:mm:ss"))});
}
