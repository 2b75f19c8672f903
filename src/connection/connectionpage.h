#pragma once
// One device link: settings, transport, the session of the page's hardware
// type, the relay store and the measurement log. The page's timer runs one
// session step per tick; the windows observe the page through its signals
// and call its operations. Object names "Connect1" ... "Connect8".
#include "connection/connectionrecord.h"
#include "connection/connectionsettings.h"
#include "connection/relaysource.h"
#include "connection/relaystore.h"

#include <QObject>
#include <memory>
#include <optional>

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
class UpdateMachine;

class ConnectionPage : public QObject, public RelaySource {
    Q_OBJECT
public:
    struct Environment {
        QString baseDirectory;
        MessageLog *log = nullptr;
        const Clock *clock = nullptr;
        SerialLibrary *serial = nullptr;
    };

    static constexpr int kStartInterval = 125;
    // Bytes a network read takes at most per call (a serial read takes what the caller asks).
    static constexpr int kNetworkReadLimit = 64 * 1024;

    ConnectionPage(int number, const Environment &env, QObject *parent = nullptr);
    ~ConnectionPage() override;

    int number() const { return m_number; }
    QString name() const { return objectName(); }
    QString baseDirectory() const { return m_env.baseDirectory; }
    const Clock &clock() const { return *m_env.clock; }
    MessageLog &messageLog() const { return *m_env.log; }

    ConnectionSettings &settings() { return m_settings; }
    const ConnectionSettings &settings() const { return m_settings; }
    ConnectionRecord &record() { return m_record; }
    const ConnectionRecord &record() const { return m_record; }
    RelayStore &store() { return m_store; }
    Session *session() const { return m_session.get(); }
    bool started() const { return m_started; }
    int baudCode() const { return m_baudCode; }

    // --- settings ---------------------------------------------------------
    // Reads (or creates) the settings file, resets the run-time fields,
    // starts the timer, then opens the link and the log when so configured.
    // On failure the page is not started and error holds the reason.
    bool loadSettings(QString *error = nullptr);
    bool saveSettings(QString *error = nullptr);
    // New settings from the configuration dialog: a changed hardware type
    // gets its own session.
    void setSettings(const ConnectionSettings &s);

    // --- link -------------------------------------------------------------
    void openLink();
    void closeLink();
    void reconnect();
    // Closes the transport and nothing else: phase, state and PortOpen stay
    // (a unit that restarts its network module takes the link away).
    void releaseLink();
    // Switches the open serial port of an RS-232 page to a serial-library baud code.
    int setSerialBaud(int code);
    void sendText(const QByteArray &bytes);
    QByteArray readMarked();
    QByteArray readMarkedOrPollEnd();
    QByteArray readCrLf();
    QByteArray readCr();
    void clearReceive();
    bool lineComplete() const;
    const QByteArray &receiveText() const;
    // The frame receivers' read: up to serialMax bytes from a serial port,
    // everything waiting (bounded) from a socket.
    QByteArray readFrameBytes(int serialMax);
    int bytesWaiting() const;
    // Modem control on the modem port (the dialler hangs up by dropping DTR).
    int setModemDtr(bool on);
    bool isSerial() const;
    // A serial or modem page whose device path names nothing just now (an
    // unplugged USB adapter); false for a network page.
    bool serialDeviceMissing() const;
    Reconnector &reconnector() { return *m_reconnector; }

    // --- timer ------------------------------------------------------------
    void setInterval(int ms);
    int interval() const;
    bool timerActive() const;
    void stopTimer();
    // One timer step: the session of the page's hardware type.
    void tick();

    // --- display ----------------------------------------------------------
    void showConnection();
    void showHardware();
    void showState();
    QList<ConnectionRow> connectionRows() const { return m_connectionRows; }
    QList<HardwareRow> hardwareRows() const { return m_hardwareRows; }
    QString hardwareThirdColumn() const { return m_thirdColumn; }
    QString stateText() const { return m_stateText; }
    bool updateEnabled() const { return m_updateEnabled; }
    void setUpdateEnabled(bool on);
    static QString hardwareCaption(int hardwareType);

    // --- messages and measurement log -------------------------------------
    void logMessage(const QString &text, int level);
    void openLog();
    void closeLog();
    MeasurementLog &measurementLog() { return *m_measurementLog; }
    // ARX: one frame text with its time stamp; HD: a line when the second changed.
    // A failure is reported once; logging stays suspended until the log is opened again.
    void logArxRecord(const QByteArray &frameText, const QDateTime &stamp);
    void logHdLine(std::optional<qint32> totalLevel);
    // Files one accepted frame: ring, newest copy, marks; the caller gives
    // the record (frame + stamp) as it is to be relayed.
    void fileRecord(RecordKind kind, const QByteArray &record);

    // --- buttons and the main window --------------------------------------
    void connectButton();
    void disconnectButton();
    void requestShutdown();
    void startPasswordChange();
    // The firmware update of this page's unit (its download file stays with it).
    UpdateMachine &updateMachine();
    // Detection found a unit that must be updated before it can be served.
    void requestUpdateDialog() { emit updateDialogRequested(number()); }

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
    void settingsChanged();
    // An input/output failure the operator must see (the error dialog).
    void errorRaised(const QString &text);

private:
    void resetRunTime();
    void writeState(bool countShown);
    void reportLogFailure(const QString &error);
    void reportLogResumed();
    void ensureSession();
    void reportSerial(int code, const QString &detail = QString());
    int openSerial(int port);
    void attachReader(ByteLink *link, int readLimit);
    void onSocketConnected();
    void onSocketFailed(int code, const QString &message);
    void onSerialFailed(int port, const QString &detail);
    int activeSerialPort() const;

    int m_number;
    Environment m_env;
    ConnectionSettings m_settings;
    ConnectionRecord m_record;
    RelayStore m_store;
    std::unique_ptr<Session> m_session;
    int m_sessionType = -1;
    std::unique_ptr<LineReader> m_reader;
    std::unique_ptr<ByteLink> m_serialLink;
    NetworkLink *m_network = nullptr;
    ByteLink *m_testLink = nullptr;
    ByteLink *m_link = nullptr; // the open transport, or none
    std::unique_ptr<MeasurementLog> m_measurementLog;
    std::unique_ptr<Reconnector> m_reconnector;
    UpdateMachine *m_updateMachine = nullptr;
    std::unique_ptr<SharedTimer> m_timer;
    bool m_started = false;
    int m_baudCode = 0;
    bool m_updateEnabled = false;

    QList<ConnectionRow> m_connectionRows;
    QList<HardwareRow> m_hardwareRows;
    QString m_thirdColumn = QStringLiteral("ID");
    QString m_stateText;
};
