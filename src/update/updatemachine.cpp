#include "update/updatemachine.h"

#include "connection/connectionsettings.h"
#include "connection/sessionhost.h"
#include "core/messagelog.h"
#include "update/updatesession.h"
#include "update/updatesteps.h"

using updatesteps::Failure;
using updatesteps::Op;
using updatesteps::percent;

namespace {

// The network module closes the link after this many ticks of its wait.
constexpr int kReleaseTick = 10;
// HD units run at 115200 baud once flashed (BaudIndex 1, serial-library code 9).
constexpr int kFastBaudIndex = 1;
constexpr int kFastBaudCode = 9;

} // namespace

UpdateMachine::UpdateMachine(SessionHost &page, QObject *parent)
    : QObject(parent), m_page(page), m_traits(&updatesteps::traitsOf(Kind::Kh71))
{
}

UpdateMachine::~UpdateMachine() = default;

QString UpdateMachine::field(qint64 n, int width)
{
    const QString digits = QString::number(n);
    if (digits.size() > width)
        return QString(width, QLatin1Char('*'));
    return digits.rightJustified(width, QLatin1Char(' '));
}

void UpdateMachine::start(Kind kind, downloadfile::File file, qint32 recordCount, std::array<int, 3> serialDigits)
{
    m_kind = kind;
    m_traits = &updatesteps::traitsOf(kind);
    m_file = std::move(file);
    m_recordCount = recordCount;
    m_serialDigits = serialDigits;
    m_serialPending = m_traits->serialRecord;
    m_step = m_traits->firstStep;
    m_tickCount = 0;
    m_linesSent = m_dataLines = m_badChecksums = m_progressCount = 0;
    m_sendNext = true;
    m_dialogClosed = false;
    m_savedInterval = m_page.interval();
    m_running = true;
    m_page.record().phase = kind == Kind::Network ? kNetworkPhase : kEepromPhase;
    runAsSession();
}

void UpdateMachine::abort(Kind kind)
{
    if (!m_running) {
        m_kind = kind;
        m_traits = &updatesteps::traitsOf(kind);
        m_savedInterval = m_page.interval();
        m_dialogClosed = false;
    }
    m_running = true;
    m_step = kFailStep;
    m_page.record().phase = kEepromPhase;
    runAsSession();
}

void UpdateMachine::runAsSession()
{
    m_page.runSession(std::make_unique<UpdateSession>(m_page, *this));
}

// The page goes back to a fresh unit session; a machine whose session was
// already handed back (Connect pressed meanwhile) still reconnects on success.
void UpdateMachine::handBack(bool reconnect)
{
    if (m_session)
        m_session->handBack(reconnect);
    else if (reconnect)
        m_page.endSession(true);
}

void UpdateMachine::tick()
{
    if (!m_running)
        return;
    if (m_step == kFailStep) {
        failStep();
        return;
    }
    if (m_step < 0 || m_step >= int(m_traits->steps.size()) || m_traits->steps[m_step].op == Op::None) {
        failWith(QStringLiteral(" Update step %1 unknown ").arg(m_step));
        return;
    }
    runStep(m_traits->steps[m_step]);
}

void UpdateMachine::runStep(const Step &s)
{
    switch (s.op) {
    case Op::Wake: wake(s); break;
    case Op::Announce: announce(); break;
    case Op::AwaitReady: awaitReady(s); break;
    case Op::BeginDownload: beginDownload(); break;
    case Op::SendLine: sendLine(s); break;
    case Op::AwaitLineAnswer: awaitLineAnswer(s); break;
    case Op::BeginErase: beginUnitWork(s, "EF\r"); break;
    case Op::BeginWork: beginWork(s); break;
    case Op::AwaitWork:
    case Op::AwaitHdFlash: awaitWork(s); break;
    case Op::AwaitSuccess: awaitSuccess(s); break;
    case Op::FixedWait: fixedWait(s); break;
    case Op::BeginModuleLoad: beginUnitWork(s, "UL\r"); break;
    case Op::Succeed: succeed(); break;
    case Op::None: break;
    }
}

// --- the unit's own work -----------------------------------------------------------------

void UpdateMachine::beginWork(const Step &s)
{
    if (s.clear)
        m_page.clearReceive();
    if (s.interval)
        m_page.setInterval(s.interval);
    m_progressCount = m_tickCount = 0;
    setProgress(0);
    setStatus(QString::fromLatin1(s.status));
    m_step = s.next;
}

// Progress words until PASS; the HD flash names the sector it writes and
// ends with DONE, after which the unit talks at the fast rate.
void UpdateMachine::awaitWork(const Step &s)
{
    const bool hdFlash = s.op == Op::AwaitHdFlash;
    ++m_tickCount;
    QByteArray reply;
    if (readReply(&reply)) {
        // A reply with both words is a failure.
        if (reply.contains("FAIL")) {
            failWith(QString::fromLatin1(s.failed));
            return;
        }
        if (reply.contains(hdFlash ? "DONE" : "PASS")) {
            if (hdFlash)
                switchToFastBaud();
            m_tickCount = 0;
            m_step = s.next;
        } else if (const qsizetype at = reply.indexOf(s.token); at >= 0) {
            m_tickCount = 0;
            if (!hdFlash) {
                setProgress(percent(++m_progressCount * 100.0 / s.divisor));
            } else {
                // The sector being written follows the word: eight sectors, 0-7.
                const char digit = at + 5 < reply.size() ? reply.at(at + 5) : 0;
                if (digit >= '0' && digit <= '9')
                    setProgress(percent((digit - '0' + 1) * 12.5));
            }
        }
        m_page.clearReceive();
    }
    if (m_step != s.next && m_tickCount > s.limit)
        failWith(QString::fromLatin1(s.timeout));
}

// A flashed HD unit talks at 115200 baud: the page keeps that rate from now
// on. Only a port of the page's own is switched; a network or modem link has
// no rate of the unit's to follow.
void UpdateMachine::switchToFastBaud()
{
    m_page.settings().baudIndex = kFastBaudIndex;
    if (m_page.settings().connectionType == connection::Serial)
        m_page.setSerialBaud(kFastBaudCode);
    QString error;
    if (!m_page.saveSettings(&error))
        m_page.logMessage(QStringLiteral("Settings file error: ") + error, int(LogLevel::Error));
}

void UpdateMachine::awaitSuccess(const Step &s)
{
    ++m_tickCount;
    QByteArray reply;
    if (readReply(&reply) && reply.contains("SUCCESS")) {
        m_step = s.next;
        m_tickCount = 0;
        setProgress(100);
        m_page.clearReceive();
        return;
    }
    setProgress(percent(m_tickCount * 100.0 / s.limit));
    if (m_tickCount > s.limit)
        failWith(QString::fromLatin1(s.timeout));
}

void UpdateMachine::fixedWait(const Step &s)
{
    ++m_tickCount;
    if (s.clear) {
        // Whatever a restarting unit says is read and dropped.
        QByteArray reply;
        if (readReply(&reply))
            m_page.clearReceive();
    }
    setProgress(percent(m_tickCount * 100.0 / s.limit));
    if (m_kind == Kind::Network && m_step == 7 && m_tickCount == kReleaseTick)
        m_page.releaseLink(); // the module takes the unit's network away
    if (m_tickCount > s.limit) {
        m_tickCount = 0;
        setProgress(0);
        if (s.status)
            setStatus(QString::fromLatin1(s.status));
        m_step = s.next;
    }
}

// "EF" (erase and flash) or "UL" (load the network module): the unit works
// on its own from here; the module load keeps the page's timer to restore.
void UpdateMachine::beginUnitWork(const Step &s, const char *command)
{
    m_page.clearReceive();
    m_page.sendText(command);
    m_progressCount = m_tickCount = 0;
    setProgress(0);
    m_countText = QString(19, QLatin1Char(' '));
    setStatus(QString::fromLatin1(s.status));
    if (s.op == Op::BeginModuleLoad) {
        m_savedInterval = m_page.interval();
        m_page.setInterval(s.interval);
    }
    m_step = s.next;
}

// --- the end -----------------------------------------------------------------------------------

void UpdateMachine::succeed()
{
    m_running = false;
    if (m_traits->releaseBeforeReconnect) {
        // The page opens its link afresh: a port still held would refuse to open.
        m_page.releaseLink();
        m_page.record().portOpen = false;
    }
    emit finished(true, QString());
    handBack(true);
    m_page.logMessage(QString::fromLatin1(m_traits->successMessage), int(LogLevel::Status));
}

void UpdateMachine::failWith(const QString &message)
{
    if (!message.isEmpty())
        m_page.logMessage(message, int(LogLevel::Error));
    m_step = kFailStep;
}

void UpdateMachine::failStep()
{
    m_running = false;
    m_page.setInterval(m_savedInterval);
    m_file.close();
    setProgress(0);
    if (!m_dialogClosed)
        emit finished(false, QString());
    m_page.setUpdateEnabled(false);
    if (m_traits->failure == Failure::CloseLink) {
        m_page.closeLink();
    } else {
        m_page.sendText("\r");
        m_page.sendText("EC\r");
        m_page.record().phase = 0;
    }
    m_page.logMessage(QString::fromLatin1(m_traits->failMessage), int(LogLevel::Error));
    m_page.record().state = state::Error;
    handBack(false);
}

// --- feedback -----------------------------------------------------------------------------------

void UpdateMachine::setProgress(int percent)
{
    m_progress = percent;
    emit feedbackChanged();
}

void UpdateMachine::setStatus(const QString &text)
{
    m_status = text;
    emit feedbackChanged();
}

void UpdateMachine::showCount()
{
    m_countText = field(m_linesSent, 6) + QStringLiteral(" of ") + field(m_recordCount, 6);
    emit feedbackChanged();
}

void UpdateMachine::showBadChecksums()
{
    m_badText = QStringLiteral("Bad Checksums: ") + field(m_badChecksums, 5);
    emit feedbackChanged();
}
