#include "ui/alarmsdialog.h"

#include "alarms/alarmmonitor.h"
#include "alarms/alarmnotifier.h"
#include "report/stationreport.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

AlarmsDialog::AlarmsDialog(report::StationReport &report, alarms::AlarmMonitor &monitor, QWidget *parent)
    : QDialog(parent), m_report(report), m_monitor(monitor)
{
    setWindowTitle(QStringLiteral("Alarms"));
    auto *layout = new QVBoxLayout(this);
    m_table = new QTableWidget(0, 4, this);
    m_table->setHorizontalHeaderLabels({QStringLiteral("Severity"), QStringLiteral("Since"), QStringLiteral("Where"),
                                        QStringLiteral("Alarm")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setWordWrap(false);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    layout->addWidget(m_table);
    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_status);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_test = buttons->addButton(QStringLiteral("Send test notification"), QDialogButtonBox::ActionRole);
    connect(m_test, &QPushButton::clicked, this, &AlarmsDialog::sendTest);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(720, 300);
    connect(&report, &report::StationReport::alarmChanged, this, &AlarmsDialog::refresh);
    refresh();
}

void AlarmsDialog::refresh()
{
    const QList<report::AlarmRecord> active = m_report.alarms(true);
    m_table->setRowCount(int(active.size()));
    int row = 0;
    for (auto it = active.crbegin(); it != active.crend(); ++it, ++row) {
        const report::AlarmRecord &a = *it;
        const QString where = a.page ? QStringLiteral("Page %1").arg(a.page)
            : a.server               ? QStringLiteral("Server %1").arg(a.server)
                                     : QStringLiteral("Station");
        const QStringList cells{a.severity, a.raisedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), where, a.text};
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            item->setToolTip(a.details.isEmpty() ? a.text : a.text + QLatin1Char('\n') + a.details.join(QLatin1Char('\n')));
            if (c == 0 && a.severity == QLatin1String("critical"))
                item->setForeground(Qt::red);
            m_table->setItem(row, c, item);
        }
    }
    QString text = active.isEmpty() ? QStringLiteral("No active alarms.")
                                    : QStringLiteral("%1 active alarm%2.").arg(active.size()).arg(active.size() == 1 ? "" : "s");
    if (!m_testResult.isEmpty())
        text += QLatin1Char('\n') + m_testResult;
    m_status->setText(text);
}

void AlarmsDialog::sendTest()
{
    m_test->setEnabled(false);
    m_testResult = QStringLiteral("Sending a test notification...");
    refresh();
    QPointer<AlarmsDialog> self(this);
    m_monitor.notifier().sendTest([self](const QStringList &results) {
        if (!self)
            return;
        self->m_test->setEnabled(true);
        self->m_testResult = QStringLiteral("Test notification: ") + results.join(QStringLiteral("; "));
        self->refresh();
    });
}

void addAlarmsMenu(QMainWindow &window, report::StationReport &report, alarms::AlarmMonitor &monitor)
{
    QMenuBar *bar = window.menuBar();
    QAction *before = bar->actions().isEmpty() ? nullptr : bar->actions().last();
    auto *view = new QMenu(QStringLiteral("&View"), bar);
    bar->insertMenu(before, view);
    QAction *open = view->addAction(QStringLiteral("&Alarms..."));
    auto *dialog = new AlarmsDialog(report, monitor, &window);
    QObject::connect(open, &QAction::triggered, dialog, [dialog] {
        dialog->refresh();
        dialog->show();
        dialog->raise();
    });
}
