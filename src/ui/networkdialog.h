#pragma once
// File > Station Network...: edits CONFIG/Network.CFG (the MQTT broker this
// station publishes to). The running program reads the file at start.
#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

class NetworkDialog : public QDialog {
    Q_OBJECT
public:
    NetworkDialog(const QString &configDirectory, QWidget *parent = nullptr);

    // Checks and writes the file; false with the reason shown in the dialog.
    bool save();
    QString problem() const;

    void accept() override;

private:
    void load();

    QString m_configDirectory;
    QLineEdit *m_host, *m_ca, *m_certificate, *m_key, *m_user, *m_password, *m_station, *m_prefix;
    QSpinBox *m_port;
    QCheckBox *m_values, *m_records;
    QLabel *m_problem;
};
