#include "ui/connectionpageview.h"

#include "connection/connectionpage.h"
#include "ui/pagewidgets.h"

#include <QHeaderView>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

// The page's lists: rows cannot stay selected.
static QTreeWidget *reportList(const QString &name, const QStringList &columns, const QList<int> &widths,
                               QWidget *parent)
{
    QTreeWidget *list = makeReportList(name, columns, widths, parent);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    list->setFocusPolicy(Qt::NoFocus);
    return list;
}

ConnectionPageView::ConnectionPageView(ConnectionPage &page, QWidget *parent) : QWidget(parent), m_page(page)
{
    setObjectName(page.name());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(4);

    auto *heading = new QLabel(QStringLiteral("Connection #%1").arg(page.number()), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);

    m_connections = reportList(QStringLiteral("ListView2"),
                               {QStringLiteral("Connection"), QStringLiteral("Info"), QStringLiteral("Status")},
                               {114, 165, 80}, this);
    m_connections->setFixedHeight(68);
    layout->addWidget(m_connections);

    layout->addWidget(new QLabel(QStringLiteral("Hardware Connections"), this));
    m_hardware = reportList(QStringLiteral("ListView1"),
                            {QStringLiteral("Hardware"), QStringLiteral("Unit"), QStringLiteral("ID"),
                             QStringLiteral("Serial #")},
                            {100, 80, 100, 80}, this);
    layout->addWidget(m_hardware, 1);

    auto *buttons = new QHBoxLayout;
    auto makeButton = [&](const QString &name, const QString &text) { return addButton(buttons, name, text, this); };
    QPushButton *connectButton = makeButton(QStringLiteral("ButtonC1"), QStringLiteral("Connect"));
    QPushButton *configure = makeButton(QStringLiteral("ButtonC2"), QStringLiteral("Configure"));
    m_update = makeButton(QStringLiteral("ButtonC3"), QStringLiteral("Update"));
    QPushButton *disconnectButton = makeButton(QStringLiteral("ButtonC4"), QStringLiteral("Disconnect"));
    m_update->setEnabled(page.updateEnabled());
    layout->addLayout(buttons);

    connect(connectButton, &QPushButton::clicked, &page, &ConnectionPage::connectButton);
    connect(disconnectButton, &QPushButton::clicked, &page, &ConnectionPage::disconnectButton);
    connect(configure, &QPushButton::clicked, this, [this] { emit configureRequested(m_page.number()); });
    connect(m_update, &QPushButton::clicked, this, [this] { emit updateRequested(m_page.number()); });
    connect(&page, &ConnectionPage::updateEnabledChanged, m_update, &QPushButton::setEnabled);
    connect(&page, &ConnectionPage::connectionRowsChanged, this, &ConnectionPageView::refreshConnections);
    connect(&page, &ConnectionPage::hardwareRowsChanged, this, &ConnectionPageView::refreshHardware);
    connect(&page, &ConnectionPage::stateTextChanged, this, &ConnectionPageView::refreshState);

    refreshConnections();
    refreshHardware();
}

void ConnectionPageView::refreshConnections()
{
    m_connections->clear();
    for (const ConnectionRow &row : m_page.connectionRows())
        new QTreeWidgetItem(m_connections, {row.connection, row.info, row.status});
}

void ConnectionPageView::refreshHardware()
{
    m_hardware->headerItem()->setText(2, m_page.hardwareThirdColumn());
    m_hardware->clear();
    for (const HardwareRow &row : m_page.hardwareRows())
        new QTreeWidgetItem(m_hardware, {row.hardware, row.unit, row.id, row.serial});
}

void ConnectionPageView::refreshState(const QString &text)
{
    if (QTreeWidgetItem *first = m_connections->topLevelItem(0))
        first->setText(2, text);
}
