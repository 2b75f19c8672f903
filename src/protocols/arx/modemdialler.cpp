#include "protocols/arx/modemdialler.h"

#include "connection/connectionsettings.h"
#include "connection/sessionhost.h"
#include "core/messagelog.h"
#include "protocols/arx/arxcommands.h"

QByteArray ModemDialler::command(int index, const QByteArray &phoneNumber)
{
    static const char *const commands[kCommandCount - 1] = {
        "ATZ", "ATE1", "ATV1", "ATQ0", "ATL2", "AT&C1", "AT&D3", "ATs2=43", "ATS8=2", "ATM1",
    };
    if (index >= 0 && index < kCommandCount - 1)
        return QByteArray(commands[index]);
    if (index == kCommandCount - 1)
        return QByteArray("ATDT") + phoneNumber;
    return {};
}

void ModemDialler::fail(const QString &message)
{
    ConnectionRecord &r = m_page.record();
    r.phase = 0;
    r.state = state::Error;
    m_page.logMessage(message, int(LogLevel::Error));
}

void ModemDialler::step()
{
    ConnectionRecord &r = m_page.record();
    switch (r.dialStep) {
    case 0:
        // A unit still logged in from an earlier call is told to stop first.
        m_page.sendText(arx::cmdLogOff());
        r.savedInterval = m_page.interval();
        m_page.setInterval(250);
        r.state = state::Initializing;
        r.dialStep = 1;
        break;
    case 1:
        m_page.setModemDtr(false); // the modem hangs up
        m_page.setInterval(1000);
        r.dialStep = 2;
        break;
    case 2:
        m_page.setModemDtr(true);
        m_commandIndex = 0;
        r.tickCount = 0;
        m_page.clearReceive();
        r.dialStep = 3;
        break;
    case 3:
        r.lastSent = command(m_commandIndex, m_page.settings().phoneNumber.toLatin1());
        if (m_commandIndex == kCommandCount - 1)
            r.state = state::Dialing;
        m_page.sendText(r.lastSent + '\r');
        m_page.setInterval(250);
        r.dialStep = 4;
        break;
    case 4:
        r.lastReply = m_page.readMarked();
        // With echo on, the modem's echo of the command counts as its answer.
        if (r.lastReply.contains("OK") || r.lastReply.contains("ERROR")
            || (!r.lastSent.isEmpty() && r.lastReply.contains(r.lastSent))) {
            ++m_commandIndex;
            r.tickCount = 0;
            m_page.clearReceive();
            r.dialStep = m_commandIndex > kCommandCount - 1 ? 5 : 3;
            break;
        }
        ++r.tickCount;
        if (r.tickCount == kResendTick) {
            m_page.clearReceive();
            r.dialStep = 3; // the same command again; the count goes on
        } else if (r.tickCount > kLocalLimit) {
            fail(QStringLiteral(" MODEM not responding check settings "));
        }
        break;
    case 5:
        r.lastReply = m_page.readMarked();
        if (r.lastReply.contains("CONNECT")) {
            r.dialStep = 6;
            break;
        }
        ++r.tickCount;
        if (r.tickCount > kConnectLimit)
            fail(QStringLiteral(" Remote MODEM not responding check settings"));
        break;
    case 6:
        m_page.setInterval(50);
        r.detectStep = 0;
        r.phase = 3;
        break;
    default:
        break;
    }
}
