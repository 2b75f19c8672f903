#pragma once
// Socket failures reported the way station engineers know them: the Windows
// Sockets error numbers and the operating system's own text,
// "Socket Error(10061): Connection refused".
#include <QAbstractSocket>
#include <QString>

class MessageLog;

namespace socketerrors {

// The Windows Sockets number for a Qt socket error (10061 refused, 10060 timed
// out, 10065 unreachable, 11001 host not found, 10048 address in use,
// 10053 aborted, 10054 reset; others as close as the platform allows).
int winsockCode(QAbstractSocket::SocketError error);

// The same for a failure the system reported by its errno.
int winsockCodeForErrno(int error);

// The operating system's text for a code of winsockCode().
QString systemText(int code);

// "Socket Error(" + code + "): " + text
QString messageText(int code);

// The program-wide hook for failing socket operations outside a page's own
// error event (the relay listeners): logs one ERROR line under the name of the
// server page that last started a socket operation, or "Server Unknown", and
// raises the flag that Enable() tests.
class Hook {
public:
    static Hook &instance();

    void install(MessageLog *log) { m_log = log; }
    void report(int code);

    bool errorFlag() const { return m_flag; }
    void clearFlag() { m_flag = false; }
    QString currentServerName() const { return m_serverName; }
    void setCurrentServerName(const QString &name) { m_serverName = name; }

private:
    MessageLog *m_log = nullptr;
    bool m_flag = false;
    QString m_serverName;
};

} // namespace socketerrors
