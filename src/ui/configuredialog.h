#pragma once
// "Configure Connection": every setting of one connection page on a
// notebook. Filled from the page when activated, written back on "Apply" or
// "Save" by the engine's rules (settingsapply), which close and reopen the
// link and the measurement log only where a change needs it.
#include "connection/connectionsettings.h"

#include <QDialog>

class ComPortMap;
class ConnectionPage;
class PasswordDialog;
class PathDialog;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QVBoxLayout;

class ConfigureDialog : public QDialog {
    Q_OBJECT
public:
    ConfigureDialog(PathDialog *pathDialog, PasswordDialog *passwordDialog, QWidget *parent = nullptr);

    // Fills every control from the page; the COM drop-downs name each port's
    // device from the map. Call before showing the dialog.
    void activate(ConnectionPage *page, const ComPortMap *ports);
    ConnectionPage *page() const { return m_page; }

    // What the controls hold, as settings for the page.
    ConnectionSettings edited() const;

    // The buttons' actions, also for tests.
    void apply();
    void save();
    void changePath();
    void changePassword();

    // Why the controls cannot be applied (a text the 8-bit settings file
    // cannot hold, a port that is no port), naming the field; empty when they
    // can. `field` (when given) is the control to correct.
    QString refusal(QWidget **field = nullptr) const;
    // The text of the last refusal shown.
    QString lastRefusal() const { return m_lastRefusal; }
    static QString unstorableText(const QString &field, const QString &text, bool secret);
    static bool portUsable(const QString &text, bool network, int *port);

    QTabWidget *notebook() const { return m_notebook; }
    QGroupBox *hardwareGroup() const { return m_hardwareBox; }
    QGroupBox *connectionGroup() const { return m_connectionBox; }
    QLineEdit *passwordEdit() const { return m_password; }
    QPushButton *changePasswordButton() const { return m_changePassword; }
    QComboBox *comPortBox() const { return m_comPort; }
    QComboBox *baudBox() const { return m_baud; }
    QComboBox *modemPortBox() const { return m_modemPort; }
    QLineEdit *ipEdit() const { return m_ip; }
    QLineEdit *portEdit() const { return m_port; }
    QLineEdit *logPathEdit() const { return m_logPath; }
    QLineEdit *prefixEdit() const { return m_prefix; }
    QCheckBox *loggingBox() const { return m_logging; }
    QLineEdit *nameEdit() const { return m_name; }
    QLineEdit *rackEdit() const { return m_rack; }
    QLineEdit *phoneEdit() const { return m_phone; }
    QLineEdit *hostEdit() const { return m_host; }
    QCheckBox *reconnectBox() const { return m_autoReconnect; }
    bool hdNotesShown() const;
    int checkedHardware() const;
    int checkedConnection() const;

signals:
    // The page's name may have changed: every tab caption is refreshed.
    void captionsChanged();
    // "Save" could not write the settings file.
    void saveFailed(const QString &error);

private:
    void buildHardwarePage();
    void buildConnectionPage();
    void buildSerialPages();
    void buildNetworkPage();
    void buildLoggingPage();
    void rebuildChoices(int hardwareType);
    bool applyToPage();
    bool storable();
    void refuse(const QString &text, QWidget *field);

    ConnectionPage *m_page = nullptr;
    PathDialog *m_pathDialog;
    PasswordDialog *m_passwordDialog;
    QString m_baseDirectory;

    QTabWidget *m_notebook;
    QGroupBox *m_hardwareBox;
    QButtonGroup *m_hardware;
    QLineEdit *m_password;
    QPushButton *m_changePassword;
    QGroupBox *m_connectionBox;
    QVBoxLayout *m_connectionLayout;
    QButtonGroup *m_connection;
    QCheckBox *m_autoConnect;
    QCheckBox *m_autoReconnect;
    QLineEdit *m_name;
    QLineEdit *m_rack;
    QComboBox *m_comPort;
    QComboBox *m_baud;
    QList<QLabel *> m_hdNotes;
    QComboBox *m_modemPort;
    QLineEdit *m_phone;
    QLineEdit *m_ip;
    QLineEdit *m_port;
    QLineEdit *m_host;
    QCheckBox *m_useHost;
    QLineEdit *m_logPath;
    QLineEdit *m_prefix;
    QCheckBox *m_logging;
    QString m_lastRefusal;
};
