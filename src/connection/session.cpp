#include "connection/session.h"

#include "connection/connectionsettings.h"
#include "core/messagelog.h"

QString hardware::caption(int hardwareType)
{
    switch (hardwareType) {
    case hardware::Arx: return QStringLiteral("Arxon System");
    case hardware::Kx71: return QStringLiteral(" KX-71  ");
    case hardware::Hd: return QStringLiteral(" HD System  ");
    case hardware::Kf71: return QStringLiteral(" KF-71 System ");
    default: return QString();
    }
}

void Session::connectButton()
{
    m_page.reconnect();
}

void Session::disconnectButton()
{
    m_page.closeLink();
}

void Session::requestShutdown()
{
    m_page.record().exitDone = true;
}

QString Session::hardwareThirdColumn() const
{
    return QStringLiteral("ID");
}

bool Session::nothingWaiting(bool cutterEmpty) const
{
    const ConnectionRecord &r = m_page.record();
    return !r.pendingCommand.pending && !r.newData && cutterEmpty && m_page.bytesWaiting() == 0;
}

bool Session::queueUnitCommand(const QByteArray &text)
{
    PendingCommand &p = m_page.record().pendingCommand;
    p.pending = true;
    p.kind = 99;
    p.text = text;
    return true;
}

QByteArray Session::kxStoredFrame(char) const
{
    return {};
}

void IdleSession::linkOpening()
{
    m_page.logMessage(QLatin1Char(' ') + hardware::caption(m_page.settings().hardwareType).trimmed()
                          + QStringLiteral(" protocol is not available in this version"),
                      int(LogLevel::Error));
}
