#include "connection/session.h"

#include "connection/connectionpage.h"
#include "core/messagelog.h"

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
    m_page.logMessage(QLatin1Char(' ') + ConnectionPage::hardwareCaption(m_page.settings().hardwareType).trimmed()
                          + QStringLiteral(" protocol is not available in this version"),
                      int(LogLevel::Error));
}
