#include "core/socketerrors.h"

#include "core/clock.h"
#include "core/datetime.h"
#include "core/messagelog.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>

namespace socketerrors {

int winsockCode(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return 10061;
    case QAbstractSocket::RemoteHostClosedError: return 10054;
    case QAbstractSocket::HostNotFoundError: return 11001;
    case QAbstractSocket::SocketAccessError: return 10013;
    case QAbstractSocket::SocketResourceError: return 10055;
    case QAbstractSocket::SocketTimeoutError: return 10060;
    case QAbstractSocket::DatagramTooLargeError: return 10040;
    case QAbstractSocket::NetworkError: return 10065;
    case QAbstractSocket::AddressInUseError: return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError: return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError: return 10045;
    case QAbstractSocket::OperationError: return 10022;
    case QAbstractSocket::TemporaryError: return 10035;
    default: return 10053;
    }
}

int winsockCodeForErrno(int error)
{
    switch (error) {
    case ECONNRESET:
    case EPIPE: return 10054; // a write after the peer's reset
    case ECONNREFUSED: return 10061;
    case ETIMEDOUT: return 10060;
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ENETDOWN: return 10065;
    case ENOBUFS:
    case ENOMEM: return 10055;
    default: return 10053;
    }
}

QString systemText(int code)
{
    int err = 0;
    switch (code) {
    case 10061: err = ECONNREFUSED; break;
    case 10060: err = ETIMEDOUT; break;
    case 10065: err = EHOSTUNREACH; break;
    case 10048: err = EADDRINUSE; break;
    case 10049: err = EADDRNOTAVAIL; break;
    case 10053: err = ECONNABORTED; break;
    case 10054: err = ECONNRESET; break;
    case 10013: err = EACCES; break;
    case 10055: err = ENOBUFS; break;
    case 10040: err = EMSGSIZE; break;
    case 10045: err = EOPNOTSUPP; break;
    case 10022: err = EINVAL; break;
    case 10035: err = EWOULDBLOCK; break;
    case 11001: return QString::fromLocal8Bit(gai_strerror(EAI_NONAME));
    default: return QStringLiteral("Unknown error");
    }
    return QString::fromLocal8Bit(std::strerror(err));
}

QString messageText(int code)
{
    return QStringLiteral("Socket Error(") + QString::number(code) + QStringLiteral("): ") + systemText(code);
}

Hook &Hook::instance()
{
    static Hook hook;
    return hook;
}

void Hook::report(int code)
{
    m_flag = true;
    const QString source = m_serverName.contains(QLatin1String("Server")) ? m_serverName
                                                                          : QStringLiteral("Server Unknown");
    if (!m_log)
        return;
    const QString when = datetime::messageText(m_log->clock().now());
    m_log->addLine(MessageLog::formatLine(when, source, messageText(code), 0), false);
}

} // namespace socketerrors
