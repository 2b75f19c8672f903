#include "protocols/arx/passwordchange.h"

#include "connection/connectionsettings.h"
#include "connection/sessionhost.h"
#include "core/messagelog.h"
#include "protocols/arx/arxcommands.h"

void PasswordChange::setNewPassword(const QByteArray &password)
{
    m_newPassword = password.toUpper();
}

void PasswordChange::start()
{
    ConnectionRecord &r = m_page.record();
    if (m_page.settings().hardwareType != hardware::Arx || !r.portOpen)
        return;
    r.passwordStep = 0;
    r.phase = 5;
}

void PasswordChange::fail()
{
    ConnectionRecord &r = m_page.record();
    r.phase = 0;
    r.state = state::Error;
    m_page.sendText(arx::cmdAbort());
    m_page.sendText(arx::cmdLogOff());
    m_page.logMessage(QStringLiteral(" ARX Hardware not responding check settings "), int(LogLevel::Error));
}

// The lone terminator ends whatever the unit half-read; the request goes again.
void PasswordChange::retry(int toStep)
{
    m_page.sendText(arx::cmdAbort());
    m_page.record().passwordStep = toStep;
}

void PasswordChange::step()
{
    ConnectionRecord &r = m_page.record();
    auto sendAndWait = [&](const QByteArray &text, int next) {
        r.lastSent = text;
        m_page.clearReceive();
        m_page.sendText(text);
        r.passwordStep = next;
    };
    // The time-out of a waiting step, when no answer was recognised in this tick.
    auto timeOut = [&](int resendStep) {
        if (r.tickCount == kRepeatTick)
            retry(resendStep);
        else if (r.tickCount > kLimit)
            fail();
    };

    switch (r.passwordStep) {
    case 0:
        m_page.sendText(arx::cmdWake());
        r.savedInterval = m_page.interval();
        m_page.setInterval(250);
        r.state = state::Password;
        r.tickCount = 0;
        r.passwordStep = 1;
        break;
    case 1:
        m_page.clearReceive();
        m_page.sendText(arx::cmdPasswordChange());
        m_page.setInterval(1000);
        r.passwordStep = 2;
        break;
    case 2: {
        ++r.tickCount;
        r.lastReply = m_page.readCrLf();
        if (m_page.lineComplete()) {
            if (r.lastReply.contains("PASSWORD LEVEL")) {
                r.passwordStep = 3;
                r.tickCount = 0;
                break;
            }
            if (r.lastReply.contains("MUST BE A VALID SUPERVISOR")) {
                m_page.logMessage(QStringLiteral(" Must be VAILD SUPERVISOR to change password"),
                                  int(LogLevel::Error));
                r.passwordStep = 9;
                break;
            }
            m_page.clearReceive();
        }
        timeOut(1);
        break;
    }
    case 3:
        sendAndWait(arx::passwordLevelText(), 4);
        m_page.setInterval(1000);
        break;
    case 4:
        ++r.tickCount;
        r.lastReply = m_page.readCrLf();
        if (m_page.lineComplete() && r.lastReply.contains("NEW")) {
            r.passwordStep = 5;
            r.tickCount = 0;
            break;
        }
        timeOut(3);
        break;
    case 5:
        sendAndWait(arx::newPasswordText(m_newPassword), 6);
        break;
    case 6:
        ++r.tickCount;
        r.lastReply = m_page.readCrLf();
        if (m_page.lineComplete()) {
            if (r.lastReply.contains("VERIFY")) {
                r.passwordStep = 7;
                r.tickCount = 0;
                break;
            }
            m_page.clearReceive();
        }
        timeOut(5);
        break;
    case 7:
        sendAndWait(arx::newPasswordText(m_newPassword), 8);
        break;
    case 8:
        ++r.tickCount;
        r.lastReply = m_page.readCrLf();
        if (m_page.lineComplete()) {
            if (r.lastReply.contains("CHANGED")) {
                m_page.logMessage(QStringLiteral(" ARX Succesful Password Change"), int(LogLevel::Status));
                r.passwordStep = 9;
                break;
            }
            m_page.clearReceive();
        }
        timeOut(7);
        break;
    case 9:
        m_page.setInterval(50);
        r.phase = 4;
        m_page.sendText(arx::cmdStart());
        break;
    default:
        break;
    }
}
