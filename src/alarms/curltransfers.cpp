#include "alarms/curltransfers.h"

#include <QSocketNotifier>
#include <QTimer>

#include <curl/curl.h>

namespace alarms {

struct CurlTransfers::Transfer {
    CURL *easy = nullptr;
    curl_slist *recipients = nullptr;
    curl_slist *headers = nullptr;
    QByteArray payload; // what the read callback hands out (mail)
    qsizetype offset = 0;
    QByteArray body;    // what the server answered (kept small)
    char errorBuffer[CURL_ERROR_SIZE] = {};
    bool http = false;
    Done done;

    ~Transfer()
    {
        curl_slist_free_all(recipients);
        curl_slist_free_all(headers);
    }
};

namespace {

size_t readPayload(char *buffer, size_t size, size_t count, void *user)
{
    auto *t = static_cast<CurlTransfers::Transfer *>(user);
    const qsizetype n = qMin<qsizetype>(qsizetype(size * count), t->payload.size() - t->offset);
    memcpy(buffer, t->payload.constData() + t->offset, size_t(n));
    t->offset += n;
    return size_t(n);
}

size_t keepAnswer(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<CurlTransfers::Transfer *>(user);
    if (t->body.size() < 4096)
        t->body.append(data, qsizetype(qMin<size_t>(size * count, size_t(4096 - t->body.size()))));
    return size * count;
}

struct GlobalInit {
    GlobalInit() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

} // namespace

CurlTransfers::CurlTransfers(QObject *parent) : QObject(parent), m_timer(new QTimer(this))
{
    static GlobalInit once;
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlTransfers::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlTransfers::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { socketAction(CURL_SOCKET_TIMEOUT, 0); });
}

CurlTransfers::~CurlTransfers()
{
    for (Transfer *t : std::as_const(m_transfers)) {
        curl_multi_remove_handle(m_multi, t->easy);
        curl_easy_cleanup(t->easy);
        delete t;
    }
    m_transfers.clear();
    for (const Watch &w : std::as_const(m_watches)) {
        delete w.read;
        delete w.write;
    }
    curl_multi_cleanup(m_multi);
}

void CurlTransfers::sendMail(const MailRequest &r, Done done)
{
    auto *t = new Transfer;
    t->done = std::move(done);
    t->easy = curl_easy_init();
    const bool tls = r.security == QLatin1String("tls");
    // curl copies string options; only the POST body must outlive the call.
    const QByteArray url = QStringLiteral("%1://%2:%3").arg(tls ? QStringLiteral("smtps") : QStringLiteral("smtp"), r.host).arg(r.port).toUtf8();
    curl_easy_setopt(t->easy, CURLOPT_URL, url.constData());
    if (r.security == QLatin1String("starttls"))
        curl_easy_setopt(t->easy, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    if (!r.user.isEmpty()) {
        curl_easy_setopt(t->easy, CURLOPT_USERNAME, r.user.toUtf8().constData());
        curl_easy_setopt(t->easy, CURLOPT_PASSWORD, r.password.toUtf8().constData());
    }
    curl_easy_setopt(t->easy, CURLOPT_MAIL_FROM, ('<' + r.from.toUtf8() + '>').constData());
    for (const QString &to : r.to)
        t->recipients = curl_slist_append(t->recipients, ('<' + to.toUtf8() + '>').constData());
    curl_easy_setopt(t->easy, CURLOPT_MAIL_RCPT, t->recipients);
    t->payload = r.message;
    curl_easy_setopt(t->easy, CURLOPT_READFUNCTION, &readPayload);
    curl_easy_setopt(t->easy, CURLOPT_READDATA, t);
    curl_easy_setopt(t->easy, CURLOPT_UPLOAD, 1L);
    start(t);
}

void CurlTransfers::post(const HttpRequest &r, Done done)
{
    auto *t = new Transfer;
    t->http = true;
    t->done = std::move(done);
    t->easy = curl_easy_init();
    curl_easy_setopt(t->easy, CURLOPT_URL, r.url.toUtf8().constData());
    curl_easy_setopt(t->easy, CURLOPT_PROTOCOLS_STR, "http,https");
    for (const auto &h : r.headers)
        t->headers = curl_slist_append(t->headers, (h.first + ": " + h.second).constData());
    t->headers = curl_slist_append(t->headers, "Expect:"); // no 100-continue round trip
    curl_easy_setopt(t->easy, CURLOPT_HTTPHEADER, t->headers);
    t->payload = r.body;
    curl_easy_setopt(t->easy, CURLOPT_POSTFIELDSIZE, long(t->payload.size()));
    curl_easy_setopt(t->easy, CURLOPT_POSTFIELDS, t->payload.constData());
    start(t);
}

void CurlTransfers::start(Transfer *t)
{
    curl_easy_setopt(t->easy, CURLOPT_PRIVATE, t);
    curl_easy_setopt(t->easy, CURLOPT_ERRORBUFFER, t->errorBuffer);
    curl_easy_setopt(t->easy, CURLOPT_WRITEFUNCTION, &keepAnswer);
    curl_easy_setopt(t->easy, CURLOPT_WRITEDATA, t);
    curl_easy_setopt(t->easy, CURLOPT_TIMEOUT, kTransferTimeoutS);
    curl_easy_setopt(t->easy, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutS);
    curl_easy_setopt(t->easy, CURLOPT_NOSIGNAL, 1L);
    static const bool verbose = qEnvironmentVariableIsSet("TOLVA_CURL_VERBOSE");
    if (verbose)
        curl_easy_setopt(t->easy, CURLOPT_VERBOSE, 1L);
    m_transfers.insert(t->easy, t);
    curl_multi_add_handle(m_multi, t->easy);
}

int CurlTransfers::onSocket(void *, int fd, int what, void *self, void *)
{
    auto *me = static_cast<CurlTransfers *>(self);
    Watch &w = me->m_watches[fd];
    auto notifier = [me, fd](QSocketNotifier *&n, QSocketNotifier::Type type, bool wanted) {
        if (wanted && !n) {
            n = new QSocketNotifier(fd, type, me);
            const int event = type == QSocketNotifier::Read ? CURL_CSELECT_IN : CURL_CSELECT_OUT;
            connect(n, &QSocketNotifier::activated, me, [me, fd, event] { me->socketAction(fd, event); });
        }
        if (n)
            n->setEnabled(wanted);
    };
    if (what == CURL_POLL_REMOVE) {
        // curl may close the socket right after: the notifiers stop now, and
        // go once the signal that may have brought us here has returned.
        for (QSocketNotifier *n : {w.read, w.write})
            if (n) {
                n->setEnabled(false);
                n->deleteLater();
            }
        me->m_watches.remove(fd);
        return 0;
    }
    notifier(w.read, QSocketNotifier::Read, what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    notifier(w.write, QSocketNotifier::Write, what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int CurlTransfers::onTimer(void *, long ms, void *self)
{
    auto *me = static_cast<CurlTransfers *>(self);
    if (ms < 0)
        me->m_timer->stop();
    else
        me->m_timer->start(int(qMin<long>(ms, 60000)));
    return 0;
}

void CurlTransfers::socketAction(int fd, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, curl_socket_t(fd), events, &running);
    finishDone();
}

void CurlTransfers::finishDone()
{
    int left = 0;
    while (CURLMsg *m = curl_multi_info_read(m_multi, &left)) {
        if (m->msg != CURLMSG_DONE)
            continue;
        Transfer *t = m_transfers.take(m->easy_handle);
        if (!t)
            continue;
        bool ok = m->data.result == CURLE_OK;
        QString error;
        if (!ok) {
            error = QString::fromUtf8(t->errorBuffer);
            if (error.isEmpty())
                error = QString::fromUtf8(curl_easy_strerror(m->data.result));
        } else if (t->http) {
            long status = 0;
            curl_easy_getinfo(t->easy, CURLINFO_RESPONSE_CODE, &status);
            ok = status >= 200 && status < 300;
            if (!ok)
                error = QStringLiteral("HTTP %1").arg(status);
        }
        curl_multi_remove_handle(m_multi, t->easy);
        curl_easy_cleanup(t->easy);
        Done done = std::move(t->done);
        delete t;
        // The callback may start the next transfer; curl is between calls here.
        done(ok, error);
    }
}

} // namespace alarms
