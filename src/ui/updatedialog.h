#pragma once
// The three update dialogs (HD units, KH-71 with display report, KF-71):
// each shows the unit's and the download files' versions, asks for what it
// needs, starts the page's update machine and shows its progress until the
// machine closes it. The checks themselves are the engine's (updatechecks).
#include "update/updatechecks.h"

#include <QDialog>
#include <QMessageBox>

#include <array>
#include <functional>

class ConnectionPage;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

class UpdateDialog : public QDialog {
    Q_OBJECT
public:
    using Kind = updatecheck::Dialog;

    UpdateDialog(Kind kind, QWidget *parent = nullptr);

    Kind kind() const { return m_kind; }
    // Fills the dialog for the page's unit, shows it and runs the checks;
    // every error box is followed by the abort of the update.
    void activate(ConnectionPage &page);
    void activate(ConnectionPage &page, const updatecheck::UnitReport &unit);
    bool machineRunning() const { return m_running; }

    // Tests answer the message boxes: the hook gets each one instead of the
    // operator and returns OK (true) or Cancel.
    using MessageHook = std::function<bool(QMessageBox::Icon icon, const QString &text)>;
    static void setMessageHook(MessageHook hook);

public slots:
    void reject() override;

private:
    void build();
    void confirm();         // HD
    void updateEeprom();    // KH-71, KF-71
    void updateLantronix(); // KH-71, KF-71
    void start(UpdateMachine::Kind kind, updatecheck::Start &opened);
    void abortUpdate();
    void showFeedback();
    void machineFinished(bool ok, const QString &errorBox);
    void message(QMessageBox::Icon icon, const QString &text, bool question, std::function<void(bool)> then = {});
    void setButtons(bool eeprom, bool lantronix, bool cancel);

    Kind m_kind;
    ConnectionPage *m_page = nullptr;
    updatecheck::Activation m_found;
    bool m_running = false;
    QMetaObject::Connection m_feedbackConnection, m_finishedConnection;

    QLabel *m_unitModel, *m_unitVersion, *m_unitLan = nullptr;
    QLabel *m_fileVersion, *m_fileLan = nullptr;
    QLabel *m_display = nullptr;
    QLabel *m_status, *m_count, *m_bad;
    QProgressBar *m_progress;
    std::array<QComboBox *, 3> m_digits{};
    QPushButton *m_eeprom;                // "Confirm" or "Update EEPROM"
    QPushButton *m_lantronix = nullptr;   // "Update Lantronix"
    QPushButton *m_cancel;
};
