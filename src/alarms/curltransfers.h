#pragma once
// Mail and HTTP transfers through libcurl's multi interface, driven from the
// Qt event loop: curl names the sockets it waits on (a QSocketNotifier each)
// and the time-out it wants (one QTimer). Nothing here blocks; a transfer
// ends with its callback, success or the reason it failed.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QSocketNotifier;
class QTimer;

namespace alarms {

struct MailRequest {
    QString host;
    int port = 25;
    QString security; // none, starttls, tls
    QString user, password;
    QString from;
    QStringList to;
    QByteArray message; // headers and body, CRLF line ends
};

struct HttpRequest {
    QString url;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
};

class CurlTransfers : public QObject {
    Q_OBJECT
public:
    // ok, and the reason when not ("Connection refused", "HTTP 500", ...).
    using Done = std::function<void(bool ok, const QString &error)>;

    struct Transfer; // one easy handle and what it points into

    explicit CurlTransfers(QObject *parent = nullptr);
    ~CurlTransfers() override;

    void sendMail(const MailRequest &r, Done done);
    void post(const HttpRequest &r, Done done);
    int running() const { return int(m_transfers.size()); }

    // Seconds one transfer may take in all (a mail server that accepts and
    // then says nothing must not hold a slot for ever).
    static constexpr long kTransferTimeoutS = 60;
    static constexpr long kConnectTimeoutS = 15;

private:
    struct Watch {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };
    void start(Transfer *t);
    void socketAction(int fd, int events);
    void finishDone();
    static int onSocket(void *easy, int fd, int what, void *self, void *socketData);
    static int onTimer(void *multi, long ms, void *self);

    void *m_multi = nullptr;
    QTimer *m_timer;
    QHash<int, Watch> m_watches;
    QHash<void *, Transfer *> m_transfers;
};

} // namespace alarms
