// The detect machine of the line session (phase 2): wake the unit, open its
// session, log in, read the identification line and start the data stream.
#include "protocols/hd/linesession.h"

#include "connection/connectionsettings.h"
#include "connection/sessionhost.h"
#include "core/messagelog.h"
#include "protocols/hd/hdcommands.h"
#include "protocols/hd/linedecoder.h"

namespace {

constexpr int kAskAgainTick = 25;
constexpr int kPromptLimit = 30;
constexpr int kLevelLimit = 10;
constexpr int kIdentLimit = 50;

// The identification line as relayed to remote clients: without the line
// ends around it.
QByteArray trimmedLine(QByteArray line)
{
    while (!line.isEmpty() && (line.front() == '\r' || line.front() == '\n'))
        line.remove(0, 1);
    while (!line.isEmpty() && (line.back() == '\r' || line.back() == '\n'))
        line.chop(1);
    return line;
}

} // namespace

void LineSession::waitForLink()
{
    ConnectionRecord &r = m_page.record();
    if (!r.portOpen)
        return;
    r.phase = Detect;
    r.detectStep = 0;
    m_page.showConnection();
}

void LineSession::fail(const QString &message)
{
    ConnectionRecord &r = m_page.record();
    r.phase = Idle;
    r.state = state::Error;
    m_page.sendText(hd::cmdCr());
    m_page.sendText(hd::cmdEc());
    m_page.logMessage(message, int(LogLevel::Error));
}

void LineSession::detectStep()
{
    ConnectionRecord &r = m_page.record();
    switch (r.detectStep) {
    case 0:
        m_page.setInterval(1000);
        m_page.sendText(hd::cmdHd());
        r.detectStep = 1;
        r.state = state::Connecting;
        break;
    case 1:
        r.tickCount = 0;
        m_page.clearReceive();
        m_page.sendText(hd::cmdSc());
        r.detectStep = 2;
        break;
    case 2:
        promptStep();
        break;
    case 3:
        levelStep();
        break;
    case 4:
        if (m_family.clearBeforeIdentRequest)
            m_page.clearReceive();
        m_page.sendText(hd::cmdUi());
        r.detectStep = 5;
        r.tickCount = 0;
        if (!m_family.clearBeforeIdentRequest)
            m_page.clearReceive();
        break;
    case 5:
        identifyStep();
        break;
    case 6:
        startStream();
        break;
    case 7:
        startPolling();
        break;
    case 8:
        updateNeededStep();
        break;
    default:
        break;
    }
}

void LineSession::grantLevel(int level)
{
    ConnectionRecord &r = m_page.record();
    r.detectStep = 4;
    m_page.setInterval(100);
    m_accessLevel = level;
    m_readOnly = level == 1;
}

// The prompt is recognised before its CR arrives. A relay server of another
// station answers with words that begin with "S"; they are tested first.
void LineSession::promptStep()
{
    ConnectionRecord &r = m_page.record();
    ++r.tickCount;
    const QByteArray reply = m_page.readCr();
    const QByteArray password = m_page.settings().password.toLatin1();
    if (reply.contains("PASSWORD")) {
        r.viaRelay = reply.contains("SPASSWORD");
        m_page.sendText(r.viaRelay ? hd::relayPasswordText(password) : hd::passwordText(password));
        r.detectStep = 3;
        r.tickCount = 0;
        m_page.clearReceive();
    } else if (reply.contains("SVALID") || reply.contains(m_family.validWord)) {
        grantLevel(3);
        r.viaRelay = reply.contains("SVALID");
    }
    // An answer taken in this very tick is not asked for again.
    if (r.detectStep != 2)
        return;
    if (r.tickCount == kAskAgainTick) {
        m_page.sendText(hd::cmdCr());
        m_page.sendText(hd::cmdSc());
        m_page.clearReceive();
        m_page.setInterval(1000);
    } else if (r.tickCount > kPromptLimit) {
        fail(m_family.notResponding);
    }
}

// The level answer counts only once its CR is in.
void LineSession::levelStep()
{
    ConnectionRecord &r = m_page.record();
    ++r.tickCount;
    const QByteArray reply = m_page.readCr();
    if (m_page.lineComplete()) {
        if (reply.contains("INVAILD")) {
            fail(m_family.invalidPassword);
            return;
        }
        if (reply.contains("SUPERVISOR"))
            grantLevel(3);
        else if (reply.contains("OPERATOR"))
            grantLevel(2);
        else if (reply.contains("OBSERVER"))
            grantLevel(1);
    }
    // A level granted in the last allowed tick stands.
    if (r.detectStep == 3 && r.tickCount > kLevelLimit)
        fail(m_family.passwordFailed);
}

void LineSession::identifyStep()
{
    ConnectionRecord &r = m_page.record();
    ++r.tickCount;
    const QByteArray line = trimmedLine(m_page.readCr());
    if (m_page.lineComplete()) {
        switch (m_family.identify(line, m_identity, r.unitsChanged)) {
        case IdentOutcome::Unknown:
            break;
        case IdentOutcome::Poll:
            r.identLine = line;
            r.detectStep = 6;
            break;
        case IdentOutcome::UpdateNeeded:
            r.identLine = line;
            r.detectStep = 8;
            break;
        }
    }
    if (r.detectStep != 5)
        return;
    if (r.tickCount == kAskAgainTick) {
        m_page.sendText(hd::cmdCr());
        m_page.sendText(hd::cmdUi());
        m_page.clearReceive();
    } else if (r.tickCount > kIdentLimit) {
        fail(m_family.identNotResponding);
    }
}

void LineSession::startStream()
{
    ConnectionRecord &r = m_page.record();
    m_page.setInterval(50);
    r.detectStep = 7;
    m_page.sendText(hd::cmdSd());
    m_page.logMessage(m_family.succesful, int(LogLevel::Status));
    r.state = state::Data;
    m_page.showHardware();
    if (!r.viaRelay)
        m_page.setUpdateEnabled(true);
}

void LineSession::startPolling()
{
    m_page.setInterval(50);
    m_page.record().phase = Polling;
    if (m_decoder)
        m_decoder->startConnection();
}

// A KH-71 without LCD streams nothing until its firmware is updated: the
// page stays idle in "Connecting" with the Update button offered.
void LineSession::updateNeededStep()
{
    ConnectionRecord &r = m_page.record();
    m_page.setInterval(50);
    r.phase = Idle;
    m_page.logMessage(m_family.succesful, int(LogLevel::Status));
    m_page.showHardware();
    if (!r.viaRelay)
        m_page.setUpdateEnabled(true);
    m_updateDialogNeeded = true;
    m_page.logMessage(QStringLiteral(" HD KH-71 without LCD: its firmware must be updated before it sends data"),
                      int(LogLevel::Status));
    if (!r.viaRelay)
        m_page.requestUpdateDialog();
}
