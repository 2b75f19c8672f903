#pragma once
// One device link: settings, transport, the session it runs, the relay store
// and the measurement log. The page's timer runs one session step per tick;
// sessions reach the page only as a SessionHost. The windows observe the
// page through its signals and call its operations. Object names
// "Connect1" ... "Connect8".
#include "connection/connectionrecord.h"
#include "connection/connectionsettings.h"
#include "connection/relaysource.h"
#include "connection/relaystore.h"
#include "connection/sessionhost.h"
#include "link/forwardlink.h"

#include <QObject>
#include <memory>
#include <optional>
#include <vector>

class ByteLink;
class Clock;
class LineReader;
class MeasurementLog;
class MessageLog;
class NetworkLink;
class Reconnector;
class SharedTimer;
class SerialLibrary;
class Session;

class ConnectionPage : public QObject, public RelaySource, public SessionHost {
    Q_OBJECT
public:
    struct Environment {
        QString baseDirectory;
        MessageLog *log = nullptr;
        const Clock *clock = nullptr;
        SerialLibrary *serial = nullptr;
        // The sessions of the unit families; without it every type gets an IdleSession.
        SessionFactory sessions;
    };

    static constexpr int kStartInterval = 125;

    ConnectionPage(int number, const Environment &env, QObject *parent = nullptr);
    ~ConnectionPage() override;

    int number() const { return m_number; }
    QString name() const { return objectName(); }
    QString baseDirectory() const override { return m_env.baseDirectory; }
    const Clock &clock() const override { return *m_env.clock; }
    MessageLog &messageLog() const { return *m_env.log; }

    ConnectionSettings &settings() override { return m_settings; }
    const ConnectionSettings &settings() const { return m_settings; }
    ConnectionRecord &record() override { return m_record; }
    const ConnectionRecord &record() const { return m_record; }
    RelayStore &store() override { return m_store; }
    // The session running now: the unit's, or one run in its place (an update).
    Session *session() const { return m_session.get(); }
    bool started() const override { return m_started; }
    int baudCode() const { return m_baudCode; }

    // --- settings ---------------------------------------------------------
    // Reads (or creates) the settings file, resets the run-time fields,
    // starts the timer, then opens the link and the log when so configured.
    // On failure the page is not started and error holds the reason.
    bool loadSettings(QString *error = nullptr);
    bool saveSettings(QString *error = nullptr) override;
    // New settings from the configuration dialog: a changed hardware type
    // gets its own session.
    void setSettings(const ConnectionSettings &s);

    // --- link (pagelink.cpp) ------------------------------------------------
    void openLink() override;
    void closeLink() override;
    void reconnect() override;
    // Closes the transport and nothing else: phase, state and PortOpen stay
    // (a unit that restarts its network module takes the link away).
    void releaseLink() override;
    // Switches the open serial port of an RS-232 page to a serial-library baud code.
    int setSerialBaud(int code) override;
    ByteLink &link() override { return m_link; }
    LineReader &lines() override { return *m_reader; }
    // Modem control on the modem port (the dialler hangs up by dropping DTR).
    int setModemDtr(bool on) override;
    bool isSerial() const override;
    // A serial or modem page whose device path names nothing just now (an
    // unplugged USB adapter); false for a network page.
    bool serialDeviceMissing() const override;
    Reconnector &reconnector() { return *m_reconnector; }

    // --- timer and sessions -------------------------------------------------
    // The timer runs from loadSettings() on. A page with nothing to do (idle
    // phase, no reconnection waiting) lets it rest after a tick, so that idle
    // pages do not wake the program; every operation that gives the session
    // work (link, buttons, sessions, link failures, unit commands) wakes it
    // again. A session that knows it has nothing to do for a while
    // (Session::quietMs) has the ticks in between skipped.
    void setInterval(int ms) override;
    int interval() const override;
    // Started and not stopped (resting counts as running).
    bool timerActive() const;
    // Resting: no ticks come until the page has something to do.
    bool timerResting() const;
    void stopTimer();
    // One timer step of the running session.
    void tick();
    // After a tick: how many of the coming ticks the page skips.
    int roundsToSkip() const;
    // The open link has bytes to read (a socket's or a serial port's read
    // event; tests call it for their scripted link): the session takes them now.
    void linkReadable();
    void runSession(std::unique_ptr<Session> session) override;
    Session &endSession(bool reconnect) override;

    // --- display (pagedisplay.cpp) -------------------------------------------
    void showConnection() override;
    void showHardware() override;
    void showState();
    QList<ConnectionRow> connectionRows() const { return m_connectionRows; }
    QList<HardwareRow> hardwareRows() const { return m_hardwareRows; }
    QString hardwareThirdColumn() const { return m_thirdColumn; }
    QString stateText() const { return m_stateText; }
    bool updateEnabled() const { return m_updateEnabled; }
    void setUpdateEnabled(bool on) override;
    static QString hardwareCaption(int hardwareType) { return hardware::caption(hardwareType); }

    // --- messages and measurement log (pagelogs.cpp) --------------------------
    void logMessage(const QString &text, int level) override;
    void openLog();
    void closeLog();
    MeasurementLog &measurementLog() { return *m_measurementLog; }
    // ARX: one frame text with its time stamp; HD: a line when the second changed.
    // A failure is reported once; logging stays suspended until the log is opened again.
    void logArxRecord(const QByteArray &frameText, const QDateTime &stamp) override;
    void logHdLine(std::optional<qint32> totalLevel) override;

    // --- buttons and the main window --------------------------------------
    void connectButton();
    void disconnectButton();
    void requestShutdown();
    void startPasswordChange();
    // Detection found a unit that must be updated before it can be served.
    void requestUpdateDialog() override { emit updateDialogRequested(number()); }

    // --- RelaySource --------------------------------------------------------
    int hardwareType() const override { return m_settings.hardwareType; }
    const RelayStore &relayStore() const override { return m_store; }
    int unitFamily() const override { return m_record.unitFamily; }
    QByteArray modelId() const override { return m_record.modelId; }
    QByteArray identLine() const override { return m_record.identLine; }
    QByteArray kxTypeReply() const override { return m_record.kxTypeReply; }
    QByteArray kxVersionReply() const override { return m_record.kxVersionReply; }
    QByteArray kxStoredFrame(char selector) const override;
    bool queueUnitCommand(const QByteArray &text) override;

    // --- tests --------------------------------------------------------------
    // openLink() then uses this link as if a port had opened at once.
    void setTestLink(ByteLink *link);

signals:
    void connectionRowsChanged();
    void hardwareRowsChanged();
    void stateTextChanged(const QString &text);
    void updateEnabledChanged(bool on);
    void updateDialogRequested(int pageNumber);
    // The page's timer runs again after resting (the page was given work).
    void timerWoke();
    void settingsChanged();
    // An input/output failure the operator must see (the error dialog).
    void errorRaised(const QString &text);

private:
    void resetRunTime();
    void wake();
    void writeState(bool countShown);
    void reportLogFailure(const QString &error);
    void reportLogResumed();
    void ensureSession();
    std::unique_ptr<Session> unitSession() const;
    void retire(std::unique_ptr<Session> session);
    void reportSerial(int code, const QString &detail = QString());
    int openSerial(int port);
    void attachReader(ByteLink *link, int readLimit);
    void onSocketConnected();
    void onSocketFailed(int code, const QString &message);
    void onSerialFailed(int port, const QString &detail);
    void onSerialData(int port);
    int activeSerialPort() const;

    int m_number;
    Environment m_env;
    ConnectionSettings m_settings;
    ConnectionRecord m_record;
    RelayStore m_store;
    std::unique_ptr<Session> m_session;
    int m_sessionType = -1;
    // Sessions replaced during a step, kept until the next tick begins.
    std::vector<std::unique_ptr<Session>> m_retired;
    std::unique_ptr<LineReader> m_reader;
    std::unique_ptr<ByteLink> m_serialLink;
    NetworkLink *m_network = nullptr;
    ByteLink *m_testLink = nullptr;
    ForwardLink m_link; // the open transport, or none
    std::unique_ptr<MeasurementLog> m_measurementLog;
    std::unique_ptr<Reconnector> m_reconnector;
    std::unique_ptr<SharedTimer> m_timer;
    bool m_started = false;
    bool m_timerWanted = false;
    int m_baudCode = 0;
    bool m_updateEnabled = false;

    QList<ConnectionRow> m_connectionRows;
    QList<HardwareRow> m_hardwareRows;
    QString m_thirdColumn = QStringLiteral("ID");
    QString m_stateText;
};
