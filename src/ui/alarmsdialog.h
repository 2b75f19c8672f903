#pragma once
// View > Alarms: the active alarms and a button that sends a test
// notification to every configured mail address and webhook.
#include <QDialog>

class QLabel;
class QMainWindow;
class QPushButton;
class QTableWidget;

namespace report {
class StationReport;
}
namespace alarms {
class AlarmMonitor;
}

class AlarmsDialog : public QDialog {
    Q_OBJECT
public:
    AlarmsDialog(report::StationReport &report, alarms::AlarmMonitor &monitor, QWidget *parent = nullptr);

    QTableWidget *table() const { return m_table; }
    QLabel *status() const { return m_status; }
    QPushButton *testButton() const { return m_test; }
    void refresh();

private:
    void sendTest();

    report::StationReport &m_report;
    alarms::AlarmMonitor &m_monitor;
    QTableWidget *m_table;
    QLabel *m_status;
    QPushButton *m_test;
    QString m_testResult;
};

// Adds a View menu with "Alarms..." before the window's Help menu.
void addAlarmsMenu(QMainWindow &window, report::StationReport &report, alarms::AlarmMonitor &monitor);
