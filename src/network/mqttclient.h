#pragma once
// An MQTT client on the event loop: libmosquitto without its thread. Its
// socket is watched by QSocketNotifiers, keep-alive runs from a timer, and
// a lost broker is tried again 1 s, 2 s, 4 s ... at most 60 s apart. Nothing
// here blocks, so nothing the station does waits for the broker.
//
// Events (QoS 1, not retained) wait in a bounded queue while the broker is
// away and go out in order once it is back; retained state is not queued:
// its owner publishes it again on connected().
#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

struct mosquitto;
struct mosquitto_message;
class MessageLog;
struct NetworkSettings;
class QSocketNotifier;
class QTimer;

class MqttClient : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxQueued = 10000;
    static constexpr qint64 kMaxQueuedBytes = 16 * 1024 * 1024;
    static constexpr int kMaxInFlight = 100;
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLastRetryMs = 60000;
    static constexpr int kKeepAliveSeconds = 30;

    struct Options {
        QString host;
        int port = 1883;
        QString user, password;
        QString tlsCa, tlsCertificate, tlsKey;
        QString clientId;
        QByteArray willTopic, willPayload; // empty topic: no last will
        QString label; // begins this client's message lines ("Fleet view")
    };
    enum class State { Off, Connecting, Connected, Waiting };
    // The broker, log-in and TLS files of Network.CFG.
    static Options brokerOptions(const NetworkSettings &settings);

    explicit MqttClient(MessageLog &log, QObject *parent = nullptr);
    ~MqttClient() override;

    void start(const Options &options);
    // A clean stop: what `last` gives is published (the status going
    // offline), then the connection is closed; done() is called once that
    // is out or after limitMs.
    void stop(const QByteArray &lastTopic, const QByteArray &lastPayload, int limitMs, std::function<void()> done);

    // QoS 0 or 1. A QoS 1 message that is not retained waits for the broker;
    // anything else is dropped while the broker is away.
    void publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain);
    // Kept and subscribed again on every connection (QoS 1).
    void subscribe(const QByteArray &pattern);

    State state() const { return m_state; }
    QString stateName() const;
    QString broker() const { return QStringLiteral("%1:%2").arg(m_options.host).arg(m_options.port); }
    QDateTime since() const { return m_since; }
    int queued() const { return int(m_queue.size()); }
    quint64 published() const { return m_published; }
    quint64 dropped() const { return m_dropped; }
    quint64 received() const { return m_received; }
    int retryMs() const { return m_retryMs; }
    int attempts() const { return m_attempts; }

    // Tests: called on the connecting thread just before a broker given by
    // name (or any TLS broker) is looked up and connected to.
    static std::function<void()> beforeOffLoopConnectForTests;
    // Connects still on their threads (also those given up).
    static int offLoopConnectsRunning();

signals:
    void connected();
    void disconnected();
    void messageReceived(const QByteArray &topic, const QByteArray &payload);
    void stateChanged();

private:
    struct Pending {
        QByteArray topic, payload;
        int mid = -1; // -1: not handed to the library on this connection
    };

    struct OffLoopConnect;
    void attempt();
    void connectStarted(int rc, int savedErrno);
    void offLoopConnectDone(const std::shared_ptr<OffLoopConnect> &offLoop);
    void failed(const QString &why, bool refusedLogin);
    void lost(int rc);
    void tearDown();
    void pump();
    void watchWrite();
    void onReadable();
    void onWritable();
    void onMisc();
    void setState(State s);
    void log(const QString &text, int level) const;

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);

    MessageLog &m_log;
    Options m_options;
    mosquitto *m_mosq = nullptr;
    std::shared_ptr<OffLoopConnect> m_offLoop; // a connect running on its own thread
    QSocketNotifier *m_read = nullptr;
    QSocketNotifier *m_write = nullptr;
    QTimer *m_misc;
    QTimer *m_retry;
    State m_state = State::Off;
    QDateTime m_since;
    QDateTime m_lostAt;
    int m_retryMs = kFirstRetryMs;
    int m_attempts = 0;
    QString m_refusal;          // the broker's answer to the log-in, when a refusal
    QString m_lastFailure;      // the failure said already; repeats stay quiet
    bool m_everConnected = false;
    bool m_stopping = false;
    bool m_inCallback = false;
    std::deque<Pending> m_queue;
    qint64 m_queuedBytes = 0;
    int m_inFlight = 0;
    QList<QByteArray> m_subscriptions;
    quint64 m_published = 0, m_dropped = 0, m_droppedThisOutage = 0, m_received = 0;
    std::function<void()> m_stopDone;
    int m_stopMid = -1;
};
