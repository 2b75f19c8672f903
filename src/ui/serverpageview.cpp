#include "ui/serverpageview.h"

#include "server/relayserver.h"
#include "ui/pagewidgets.h"
#include "ui/serverconfigdialog.h"
#include "ui/serverlogwindow.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QTreeWidget *serverList(const QString &name, QWidget *parent)
{
    QTreeWidget *list = makeReportList(name, {QStringLiteral("Host"), QStringLiteral("Address"), QStringLiteral("Port"),
                                              QStringLiteral("Status")},
                                       {110, 100, 80, 59}, parent);
    list->header()->setStretchLastSection(false);
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return list;
}

void setRow(QTreeWidgetItem *item, const ServerRow &row)
{
    item->setText(0, row.host);
    item->setText(1, row.address);
    item->setText(2, row.port);
    item->setText(3, row.status);
}

} // namespace

ServerPageView::ServerPageView(RelayServer *server, QWidget *parent) : QWidget(parent), m_server(server)
{
    setObjectName(server->objectName());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 4, 2, 4);
    layout->setSpacing(4);

    auto *title = new QLabel(QStringLiteral("Server  #%1").arg(server->number()), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    // The status row is for reading only: it can be neither selected nor focused.
    m_status = serverList(QStringLiteral("ListView1"), this);
    m_status->setSelectionMode(QAbstractItemView::NoSelection);
    m_status->setFocusPolicy(Qt::NoFocus);
    m_status->setFixedHeight(44);
    m_status->addTopLevelItem(new QTreeWidgetItem(m_status));
    layout->addWidget(m_status);

    auto *heading = new QHBoxLayout;
    heading->addWidget(new QLabel(QStringLiteral("Remote Connections"), this));
    heading->addStretch(1);
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("LabelS5"));
    heading->addWidget(m_count);
    layout->addLayout(heading);

    m_clients = serverList(QStringLiteral("ListView2"), this);
    m_clients->setSelectionMode(QAbstractItemView::SingleSelection);
    m_clients->setSelectionBehavior(QAbstractItemView::SelectRows);
    layout->addWidget(m_clients, 1);

    auto *buttons = new QHBoxLayout;
    auto makeButton = [&](const QString &name, const QString &text) { return addButton(buttons, name, text, this); };
    QPushButton *enable = makeButton(QStringLiteral("ButtonS1"), QStringLiteral("Enable"));
    QPushButton *configure = makeButton(QStringLiteral("ButtonS2"), QStringLiteral("Configure"));
    QPushButton *viewLog = makeButton(QStringLiteral("ButtonS3"), QStringLiteral("View Log"));
    QPushButton *disable = makeButton(QStringLiteral("ButtonS4"), QStringLiteral("Disable"));
    layout->addLayout(buttons);

    // "Enable" on a running server restarts it.
    connect(enable, &QPushButton::clicked, this, [this] {
        if (m_server->isEnabled())
            m_server->disable();
        m_server->enable();
    });
    connect(disable, &QPushButton::clicked, this, [this] { m_server->disable(); });
    connect(configure, &QPushButton::clicked, this, &ServerPageView::onConfigure);
    connect(viewLog, &QPushButton::clicked, this, &ServerPageView::onViewLog);
    connect(server, &RelayServer::statusChanged, this, &ServerPageView::refreshStatus);
    connect(server, &RelayServer::clientsChanged, this, &ServerPageView::refreshClients);

    resize(kWidth, kHeight);
    refreshStatus();
    refreshClients();
}

void ServerPageView::setDialogs(ServerConfigDialog *config, ServerLogWindow *log)
{
    m_configDialog = config;
    m_logWindow = log;
}

void ServerPageView::refreshStatus()
{
    setRow(m_status->topLevelItem(0), m_server->statusRow());
}

void ServerPageView::refreshClients()
{
    m_count->setText(m_server->connectionsText());
    const QList<ServerRow> rows = m_server->clientRows();
    if (m_clients->topLevelItemCount() != rows.size()) {
        m_clients->clear();
        for (const ServerRow &row : rows) {
            auto *item = new QTreeWidgetItem(m_clients);
            setRow(item, row);
        }
        return;
    }
    for (int i = 0; i < rows.size(); ++i)
        setRow(m_clients->topLevelItem(i), rows[i]);
}

void ServerPageView::onConfigure()
{
    emit configureRequested(m_server->number());
    if (m_configDialog) {
        m_configDialog->activate(m_server);
        m_configDialog->exec();
    }
}

void ServerPageView::onViewLog()
{
    emit viewLogRequested(m_server->number());
    if (m_logWindow) {
        m_logWindow->showLog(*m_server);
        m_logWindow->exec();
    }
}
