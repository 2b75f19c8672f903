#include "ui/fleetwindow.h"

#include "network/networkfleet.h"
#include "ui/messageview.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QSplitter>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QColor healthColour(const QString &health)
{
    if (health == QLatin1String("failed") || health == QLatin1String("offline"))
        return QColor(0xb0, 0, 0);
    if (health == QLatin1String("silent"))
        return QColor(0xa0, 0x60, 0);
    if (health == QLatin1String("ok") || health == QLatin1String("online"))
        return QColor(0, 0x80, 0);
    return QColor(Qt::gray);
}

} // namespace

FleetWindow::FleetWindow(NetworkFleet *fleet, MessageLog &log, QWidget *parent)
    : QWidget(parent), m_fleet(fleet), m_summary(new QLabel(this)), m_list(new QTreeWidget(this))
{
    setObjectName(QStringLiteral("FleetWindow"));
    setWindowTitle(QStringLiteral("Server - Station Network"));
    m_list->setColumnCount(5);
    m_list->setHeaderLabels({QStringLiteral("Station / page"), QStringLiteral("State"), QStringLiteral("Unit / version"),
                             QStringLiteral("Last frame"), QStringLiteral("Console")});
    m_list->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_list->setColumnWidth(1, 300);
    m_list->setColumnWidth(2, 110);
    m_list->setColumnWidth(3, 150);
    m_list->setRootIsDecorated(true);
    m_list->setAlternatingRowColors(true);
    // A station's console opens in the browser, where its address is known.
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [](QTreeWidgetItem *item) {
        const QString url = item->data(4, Qt::UserRole).toString();
        if (!url.isEmpty())
            QDesktopServices::openUrl(QUrl(url));
    });
    auto *splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_list);
    splitter->addWidget(new MessageView(log, this));
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(splitter);
    resize(900, 600);
    if (m_fleet)
        connect(m_fleet, &NetworkFleet::changed, this, &FleetWindow::refresh);
    refresh();
}

void FleetWindow::refresh()
{
    if (!m_fleet) {
        m_summary->setText(QStringLiteral("No broker: set broker_host in CONFIG/Network.CFG and start again."));
        return;
    }
    const QJsonObject fleet = m_fleet->json();
    const QJsonObject broker = fleet.value(QStringLiteral("broker")).toObject();
    m_summary->setText(QStringLiteral("Broker %1: %2.  %3 stations, %4 online.")
                           .arg(broker.value(QStringLiteral("address")).toString(),
                                broker.value(QStringLiteral("state")).toString())
                           .arg(fleet.value(QStringLiteral("stationCount")).toInt())
                           .arg(fleet.value(QStringLiteral("online")).toInt()));
    QSet<QString> expanded;
    for (int i = 0; i < m_list->topLevelItemCount(); ++i)
        if (m_list->topLevelItem(i)->isExpanded())
            expanded.insert(m_list->topLevelItem(i)->text(0));
    const bool first = m_list->topLevelItemCount() == 0;
    m_list->clear();
    for (const QJsonValue &sv : fleet.value(QStringLiteral("stations")).toArray()) {
        const QJsonObject s = sv.toObject();
        const bool online = s.value(QStringLiteral("online")).toBool();
        const int failed = s.value(QStringLiteral("failedPages")).toInt();
        const int silent = s.value(QStringLiteral("silentPages")).toInt();
        auto *top = new QTreeWidgetItem(m_list);
        top->setText(0, s.value(QStringLiteral("station")).toString());
        QString state = online ? QStringLiteral("online") : QStringLiteral("offline");
        if (online && (failed || silent))
            state += QStringLiteral(" - %1 failed, %2 silent").arg(failed).arg(silent);
        top->setText(1, state);
        top->setForeground(1, healthColour(!online ? QStringLiteral("offline") : failed ? QStringLiteral("failed")
                                                                            : silent   ? QStringLiteral("silent")
                                                                                       : QStringLiteral("online")));
        top->setText(2, s.value(QStringLiteral("version")).toString());
        const QString url = s.value(QStringLiteral("consoleUrl")).toString();
        top->setText(4, url);
        top->setData(4, Qt::UserRole, url);
        for (const QJsonValue &pv : s.value(QStringLiteral("pages")).toArray()) {
            const QJsonObject p = pv.toObject();
            const QString health = p.value(QStringLiteral("health")).toString();
            if (health == QLatin1String("idle"))
                continue;
            auto *row = new QTreeWidgetItem(top);
            const QString caption = p.value(QStringLiteral("caption")).toString();
            row->setText(0, QStringLiteral("%1  %2").arg(p.value(QStringLiteral("number")).toInt()).arg(caption));
            row->setText(1, health + QStringLiteral(" - ") + p.value(QStringLiteral("stateText")).toString().trimmed());
            row->setForeground(1, healthColour(health));
            row->setText(2, p.value(QStringLiteral("hardware")).toString());
            const QDateTime last = QDateTime::fromString(
                p.value(QStringLiteral("counters")).toObject().value(QStringLiteral("lastFrameAt")).toString(), Qt::ISODateWithMs);
            row->setText(3, last.isValid() ? last.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString());
            row->setData(4, Qt::UserRole, url);
        }
        top->setExpanded(first || expanded.contains(top->text(0)));
    }
}
