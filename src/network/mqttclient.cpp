#include "network/mqttclient.h"

#include "core/messagelog.h"
#include "network/networksettings.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mutex>
#include <thread>

namespace {

// A connection that has not been accepted by then is given up and tried again.
constexpr int kConnectLimitMs = 15000;

void initLibrary()
{
    static const bool done = [] {
        mosquitto_lib_init();
        return true;
    }();
    Q_UNUSED(done);
}

QString reasonOf(int rc, int savedErrno)
{
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(savedErrno));
    if (rc == MOSQ_ERR_TLS)
        return QStringLiteral("TLS failed (certificate, CA or key not accepted)");
    if (rc == MOSQ_ERR_CONN_LOST)
        return QStringLiteral("the connection was closed");
    if (rc == MOSQ_ERR_KEEPALIVE)
        return QStringLiteral("no answer within the keep-alive time");
    return QString::fromUtf8(mosquitto_strerror(rc));
}

QString refusalOf(int rc)
{
    switch (rc) {
    case 1: return QStringLiteral("protocol version refused");
    case 2: return QStringLiteral("client id refused");
    case 3: return QStringLiteral("broker unavailable");
    case 4: return QStringLiteral("wrong user name or password");
    case 5: return QStringLiteral("not authorised");
    default: return QString::fromUtf8(mosquitto_connack_string(rc));
    }
}

} // namespace

std::function<void()> MqttClient::beforeOffLoopConnectForTests;

namespace {
std::atomic<int> offLoopRunning{0};
}

int MqttClient::offLoopConnectsRunning()
{
    return offLoopRunning.load();
}

// libmosquitto looks a name up inside its connect, which would stop the
// event loop for as long as the resolver takes (its time-out, when the DNS
// server is away). So a broker given by name, and any TLS connect (see the
// lock below), is connected to on a thread of its own; the library keeps
// the name for the certificate check. Until the thread is done, the
// mosquitto object is its alone.
struct MqttClient::OffLoopConnect {
    enum State { Running, Done, Abandoned };
    std::mutex lock;
    State state = Running;
    mosquitto *mosq = nullptr;
    int rc = 0;
    int savedErrno = 0;
};

MqttClient::MqttClient(MessageLog &log, QObject *parent)
    : QObject(parent), m_log(log), m_misc(new QTimer(this)), m_retry(new QTimer(this))
{
    initLibrary();
    m_misc->setInterval(1000);
    connect(m_misc, &QTimer::timeout, this, &MqttClient::onMisc);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &MqttClient::attempt);
}

MqttClient::~MqttClient()
{
    tearDown();
}

MqttClient::Options MqttClient::brokerOptions(const NetworkSettings &settings)
{
    Options o;
    o.host = settings.brokerHost;
    o.port = settings.port();
    o.user = settings.user;
    o.password = settings.password;
    o.tlsCa = settings.tlsCa;
    o.tlsCertificate = settings.tlsCertificate;
    o.tlsKey = settings.tlsKey;
    return o;
}

QString MqttClient::stateName() const
{
    switch (m_state) {
    case State::Off: return QStringLiteral("off");
    case State::Connecting: return QStringLiteral("connecting");
    case State::Connected: return QStringLiteral("connected");
    case State::Waiting: return QStringLiteral("waiting");
    }
    return {};
}

void MqttClient::log(const QString &text, int level) const
{
    if (m_options.label.isEmpty() || text.isEmpty()) {
        m_log.log(QStringLiteral("Network"), text, level);
        return;
    }
    m_log.log(QStringLiteral("Network"), m_options.label + QStringLiteral(": ") + text[0].toLower() + text.mid(1), level);
}

void MqttClient::setState(State s)
{
    if (s == m_state)
        return;
    m_state = s;
    m_since = QDateTime::currentDateTimeUtc();
    emit stateChanged();
}

void MqttClient::start(const Options &options)
{
    m_options = options;
    m_stopping = false;
    m_retryMs = kFirstRetryMs;
    attempt();
}

void MqttClient::attempt()
{
    tearDown();
    if (m_stopping)
        return;
    setState(State::Connecting);
    ++m_attempts;
    m_refusal.clear();
    m_mosq = mosquitto_new(m_options.clientId.toUtf8().constData(), true, this);
    if (!m_mosq) {
        failed(QStringLiteral("out of memory"), false);
        return;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(m_mosq, kMaxInFlight);
    mosquitto_connect_callback_set(m_mosq, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttClient::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttClient::onPublish);
    mosquitto_message_callback_set(m_mosq, &MqttClient::onMessage);
    if (!m_options.user.isEmpty())
        mosquitto_username_pw_set(m_mosq, m_options.user.toUtf8().constData(),
                                  m_options.password.isEmpty() ? nullptr : m_options.password.toUtf8().constData());
    if (!m_options.willTopic.isEmpty())
        mosquitto_will_set(m_mosq, m_options.willTopic.constData(), int(m_options.willPayload.size()),
                           m_options.willPayload.constData(), 1, true);
    if (!m_options.tlsCa.isEmpty()) {
        const QByteArray ca = m_options.tlsCa.toLocal8Bit();
        const QByteArray cert = m_options.tlsCertificate.toLocal8Bit();
        const QByteArray key = m_options.tlsKey.toLocal8Bit();
        const int rc = mosquitto_tls_set(m_mosq, ca.constData(), nullptr, cert.isEmpty() ? nullptr : cert.constData(),
                                         key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            failed(QStringLiteral("TLS files not usable (%1): %2").arg(m_options.tlsCa, reasonOf(rc, errno)), false);
            return;
        }
    }
    const int attemptNumber = m_attempts;
    QTimer::singleShot(kConnectLimitMs, this, [this, attemptNumber] {
        if (m_attempts == attemptNumber && m_state == State::Connecting)
            failed(QStringLiteral("no answer within %1 s").arg(kConnectLimitMs / 1000), false);
    });
    const QByteArray host = m_options.host.toUtf8();
    if (!QHostAddress(m_options.host).isNull() && m_options.tlsCa.isEmpty()) {
        // An address without TLS: nothing to look up, the connect does not
        // block, and it touches no state another client's thread may use.
        const int rc = mosquitto_connect_async(m_mosq, host.constData(), m_options.port, kKeepAliveSeconds);
        connectStarted(rc, errno);
        return;
    }
    auto offLoop = std::make_shared<OffLoopConnect>();
    offLoop->mosq = std::exchange(m_mosq, nullptr);
    m_offLoop = offLoop;
    const int port = m_options.port;
    ++offLoopRunning;
    std::thread([this, offLoop, host, port, hook = beforeOffLoopConnectForTests]() mutable {
        int rc, savedErrno;
        {
            // One at a time: the library sets up its TLS globals on the first
            // TLS connect without a lock of its own, and two clients (the
            // publisher and the fleet view) start together.
            static std::mutex oneConnectAtATime;
            std::lock_guard<std::mutex> alone(oneConnectAtATime);
            if (hook)
                hook();
            rc = mosquitto_connect_async(offLoop->mosq, host.constData(), port, kKeepAliveSeconds);
            savedErrno = errno;
        }
        {
            std::lock_guard<std::mutex> hold(offLoop->lock);
            if (offLoop->state == OffLoopConnect::Abandoned) {
                mosquitto_destroy(offLoop->mosq);
            } else {
                offLoop->rc = rc;
                offLoop->savedErrno = savedErrno;
                offLoop->state = OffLoopConnect::Done;
                // Posted under the lock: the client cannot be gone yet, and if
                // it goes before the call runs, its tearDown() takes the object back.
                QMetaObject::invokeMethod(this, [this, offLoop] { offLoopConnectDone(offLoop); }, Qt::QueuedConnection);
            }
        }
        offLoop.reset(); // nothing of it outlives the count
        hook = nullptr;
        --offLoopRunning;
    }).detach();
}

void MqttClient::offLoopConnectDone(const std::shared_ptr<OffLoopConnect> &offLoop)
{
    if (offLoop != m_offLoop)
        return; // given up meanwhile
    m_offLoop.reset();
    m_mosq = offLoop->mosq;
    connectStarted(offLoop->rc, offLoop->savedErrno);
}

void MqttClient::connectStarted(int rc, int savedErrno)
{
    if (rc != MOSQ_ERR_SUCCESS) {
        failed(reasonOf(rc, savedErrno), false);
        return;
    }
    const int fd = mosquitto_socket(m_mosq);
    if (fd < 0) {
        failed(QStringLiteral("no socket"), false);
        return;
    }
    m_read = new QSocketNotifier(qintptr(fd), QSocketNotifier::Read, this);
    connect(m_read, &QSocketNotifier::activated, this, &MqttClient::onReadable);
    m_write = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    connect(m_write, &QSocketNotifier::activated, this, &MqttClient::onWritable);
    watchWrite();
    m_misc->start();
}

void MqttClient::tearDown()
{
    if (m_offLoop) {
        std::lock_guard<std::mutex> hold(m_offLoop->lock);
        if (m_offLoop->state == OffLoopConnect::Running)
            m_offLoop->state = OffLoopConnect::Abandoned; // its thread destroys the object
        else
            mosquitto_destroy(m_offLoop->mosq);
        m_offLoop.reset();
    }
    m_misc->stop();
    delete m_read;
    m_read = nullptr;
    delete m_write;
    m_write = nullptr;
    if (m_mosq) {
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
    // What was in flight goes again, in order, on the next connection.
    for (Pending &p : m_queue)
        p.mid = -1;
    m_inFlight = 0;
}

void MqttClient::failed(const QString &why, bool refusedLogin)
{
    const bool wasConnected = m_state == State::Connected;
    tearDown();
    if (m_stopping) {
        setState(State::Off);
        return;
    }
    setState(State::Waiting);
    m_retry->start(m_retryMs);
    const int waitS = m_retryMs / 1000;
    m_retryMs = qMin(m_retryMs * 2, kLastRetryMs);
    if (wasConnected) {
        m_lostAt = QDateTime::currentDateTimeUtc();
        m_lastFailure = why;
        log(QStringLiteral("Connection to the broker %1 lost (%2); trying again, events wait in a queue")
                .arg(broker(), why),
            int(LogLevel::Status));
        emit disconnected();
        return;
    }
    // One line per kind of failure: a broker that stays away, or a log-in
    // that stays wrong, does not fill the message list.
    if (why == m_lastFailure)
        return;
    m_lastFailure = why;
    if (refusedLogin)
        log(QStringLiteral("The broker %1 refused the connection: %2 (user \"%3\"; see Network.CFG); trying again "
                           "up to every %4 s")
                .arg(broker(), why, m_options.user)
                .arg(kLastRetryMs / 1000),
            int(LogLevel::Error));
    else
        log(QStringLiteral("Cannot connect to the broker %1: %2; trying again in %3 s, then up to every %4 s")
                .arg(broker(), why)
                .arg(waitS)
                .arg(kLastRetryMs / 1000),
            int(LogLevel::Error));
}

void MqttClient::lost(int rc)
{
    failed(reasonOf(rc, errno), false);
}

void MqttClient::watchWrite()
{
    if (m_write)
        m_write->setEnabled(m_mosq && mosquitto_want_write(m_mosq));
}

void MqttClient::onReadable()
{
    if (!m_mosq)
        return;
    const int rc = mosquitto_loop_read(m_mosq, 1);
    if (!m_mosq)
        return; // a callback ended the connection
    if (!m_refusal.isEmpty())
        failed(m_refusal, true);
    else if (rc != MOSQ_ERR_SUCCESS)
        lost(rc);
    else
        watchWrite();
}

void MqttClient::onWritable()
{
    if (!m_mosq)
        return;
    const int rc = mosquitto_loop_write(m_mosq, 1);
    if (!m_mosq)
        return;
    if (rc != MOSQ_ERR_SUCCESS)
        lost(rc);
    else
        watchWrite();
}

void MqttClient::onMisc()
{
    if (!m_mosq)
        return;
    const int rc = mosquitto_loop_misc(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN)
        lost(rc);
    else
        watchWrite();
}

void MqttClient::onConnect(mosquitto *, void *self, int rc)
{
    auto *c = static_cast<MqttClient *>(self);
    if (rc != 0) {
        // Handled once the library has returned: the instance goes away.
        c->m_refusal = refusalOf(rc);
        return;
    }
    c->m_retryMs = kFirstRetryMs;
    const bool again = c->m_everConnected;
    c->m_everConnected = true;
    c->m_lastFailure.clear();
    c->setState(State::Connected);
    for (const QByteArray &s : c->m_subscriptions)
        mosquitto_subscribe(c->m_mosq, nullptr, s.constData(), 1);
    const int waiting = int(c->m_queue.size());
    c->pump();
    if (again)
        c->log(QStringLiteral("Connected to the broker %1 again after %2 s; %3 queued events sent%4")
                   .arg(c->broker())
                   .arg(c->m_lostAt.isValid() ? c->m_lostAt.secsTo(QDateTime::currentDateTimeUtc()) : 0)
                   .arg(waiting)
                   .arg(c->m_droppedThisOutage ? QStringLiteral(", %1 oldest dropped").arg(c->m_droppedThisOutage)
                                               : QString()),
               int(LogLevel::Status));
    else
        c->log(QStringLiteral("Connected to the broker %1%2").arg(c->broker(), c->m_options.tlsCa.isEmpty() ? QString()
                                                                                                          : QStringLiteral(" (TLS)")),
               int(LogLevel::Status));
    c->m_droppedThisOutage = 0;
    emit c->connected();
    c->watchWrite();
}

void MqttClient::onDisconnect(mosquitto *, void *, int)
{
    // Seen by the caller of the loop function as its return code.
}

void MqttClient::onPublish(mosquitto *, void *self, int mid)
{
    auto *c = static_cast<MqttClient *>(self);
    ++c->m_published;
    if (mid == c->m_stopMid && c->m_stopDone) {
        auto done = std::move(c->m_stopDone);
        c->m_stopDone = nullptr;
        QMetaObject::invokeMethod(c, [c, done] {
            if (c->m_mosq) {
                mosquitto_disconnect(c->m_mosq);
                mosquitto_loop_write(c->m_mosq, 1);
            }
            c->tearDown();
            c->setState(State::Off);
            done();
        }, Qt::QueuedConnection);
        return;
    }
    const size_t n = qMin(c->m_queue.size(), size_t(c->m_inFlight));
    for (size_t i = 0; i < n; ++i) {
        if (c->m_queue[i].mid == mid) {
            c->m_queuedBytes -= c->m_queue[i].topic.size() + c->m_queue[i].payload.size();
            c->m_queue.erase(c->m_queue.begin() + qsizetype(i));
            --c->m_inFlight;
            c->pump();
            return;
        }
    }
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *c = static_cast<MqttClient *>(self);
    ++c->m_received;
    emit c->messageReceived(QByteArray(message->topic),
                            QByteArray(static_cast<const char *>(message->payload), message->payloadlen));
}

void MqttClient::pump()
{
    if (m_state != State::Connected || !m_mosq)
        return;
    // In flight are always the first m_inFlight entries, so a lost
    // connection sends the same order again.
    while (m_inFlight < kMaxInFlight && size_t(m_inFlight) < m_queue.size()) {
        Pending &p = m_queue[size_t(m_inFlight)];
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, p.topic.constData(), int(p.payload.size()), p.payload.constData(), 1, false);
        if (rc != MOSQ_ERR_SUCCESS)
            break; // the read or write that follows finds the lost connection
        p.mid = mid;
        ++m_inFlight;
    }
    watchWrite();
}

void MqttClient::publish(const QByteArray &topic, const QByteArray &payload, int qos, bool retain)
{
    if (m_stopping)
        return;
    if (qos == 1 && !retain) {
        if (m_state == State::Off)
            return;
        m_queue.push_back(Pending{topic, payload, -1});
        m_queuedBytes += topic.size() + payload.size();
        while ((m_queue.size() > size_t(kMaxQueued) || m_queuedBytes > kMaxQueuedBytes)
               && m_queue.size() > size_t(m_inFlight)) {
            const auto oldest = m_queue.begin() + m_inFlight;
            m_queuedBytes -= oldest->topic.size() + oldest->payload.size();
            m_queue.erase(oldest);
            ++m_dropped;
            if (m_droppedThisOutage++ == 0)
                log(QStringLiteral("Broker queue full (%1 events or %2 MiB): the oldest are dropped until the broker "
                                   "%3 takes them again")
                        .arg(kMaxQueued)
                        .arg(kMaxQueuedBytes / (1024 * 1024))
                        .arg(broker()),
                    int(LogLevel::Status));
        }
        pump();
        return;
    }
    if (m_state != State::Connected || !m_mosq)
        return;
    if (mosquitto_publish(m_mosq, nullptr, topic.constData(), int(payload.size()), payload.constData(), qos, retain)
        == MOSQ_ERR_SUCCESS && qos == 0)
        ++m_published;
    watchWrite();
}

void MqttClient::subscribe(const QByteArray &pattern)
{
    m_subscriptions << pattern;
    if (m_state == State::Connected && m_mosq) {
        mosquitto_subscribe(m_mosq, nullptr, pattern.constData(), 1);
        watchWrite();
    }
}

void MqttClient::stop(const QByteArray &lastTopic, const QByteArray &lastPayload, int limitMs, std::function<void()> done)
{
    m_retry->stop();
    if (m_state != State::Connected || !m_mosq || lastTopic.isEmpty()) {
        m_stopping = true;
        tearDown();
        setState(State::Off);
        done();
        return;
    }
    int mid = 0;
    if (mosquitto_publish(m_mosq, &mid, lastTopic.constData(), int(lastPayload.size()), lastPayload.constData(), 1, true)
        != MOSQ_ERR_SUCCESS) {
        m_stopping = true;
        tearDown();
        setState(State::Off);
        done();
        return;
    }
    m_stopping = true;
    m_stopMid = mid;
    m_stopDone = std::move(done);
    watchWrite();
    QTimer::singleShot(limitMs, this, [this] {
        if (!m_stopDone)
            return;
        auto d = std::move(m_stopDone);
        m_stopDone = nullptr;
        tearDown();
        setState(State::Off);
        d();
    });
}
