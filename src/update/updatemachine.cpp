#include "update/updatemachine.h"

#include "connection/connectionpage.h"
#include "core/hextext.h"
#include "core/messagelog.h"
#include "update/firmwarefiles.h"

#include <cmath>

namespace {

enum class Op {
    None,
    Wake,            // timer, state "Updating ", "HD\r"
    Announce,        // "PG" with or without the record count
    AwaitReady,
    BeginDownload,
    SendLine,
    AwaitLineAnswer,
    BeginErase,      // "EF\r": the unit erases (and flashes) on its own
    BeginWork,       // a new phase of the unit's work: progress and status reset
    AwaitWork,       // progress token / PASS / FAIL
    AwaitHdFlash,    // sector digits, DONE
    AwaitSuccess,    // the restarted unit's "SUCCESS"
    FixedWait,       // a wait that does not look at the unit
    BeginModuleLoad, // "UL\r": the unit loads its network module
    Succeed,
};

enum class Failure { CloseLink, SendEc };

} // namespace

struct UpdateMachine::Step {
    Op op = Op::None;
    int next = 0;
    const char *status = nullptr;
    const char *token = nullptr;   // progress token of the unit's work
    int divisor = 0;               // progress messages making 100 %
    const char *failed = nullptr;  // ERROR on "FAIL"
    const char *timeout = nullptr; // ERROR when the wait runs out
    int limit = 0;                 // ticks waited at most
    int interval = 0;              // timer set by the step (0: left as it is)
    bool clear = false;
};

struct UpdateMachine::Traits {
    std::array<Step, 19> steps;
    int firstStep;
    bool announceCount;
    bool showBadChecksums;
    bool sendDeOnBadChecksums;
    bool serialRecord;
    Failure failure;
    const char *failMessage;
    bool releaseBeforeReconnect;
    const char *successMessage;
};

namespace {

using Step = UpdateMachine::Step;

constexpr int kDownloadInterval = 10;
constexpr int kReadyLimit = 240;
constexpr int kWorkLimit = 480;
constexpr int kResetLimit = 900;

constexpr Step kWake{Op::Wake, 1, nullptr, nullptr, 0, nullptr, nullptr, 0, 125};
constexpr Step kAnnounce{Op::Announce, 2};
constexpr Step kAwaitReady{Op::AwaitReady, 3, nullptr, nullptr, 0, nullptr, " Hardware Not Responding", kReadyLimit};
constexpr Step kBeginDownload{Op::BeginDownload, 4};
constexpr Step kSendLine{Op::SendLine, 5};
constexpr Step kAwaitLine{Op::AwaitLineAnswer, 4, nullptr, nullptr, 0, nullptr, " Data Download Timeout ", 6000};
constexpr Step kErase{Op::BeginErase, 7, "Erasing EEPROM     "};
constexpr Step kAwaitErase{Op::AwaitWork, 8, nullptr, "ERASE", 70, " Erase EEPROM Failed ", " Erase EEPROM Timeout ",
                           kWorkLimit};
constexpr Step kFlash{Op::BeginWork, 9, "Flashing EEPROM     ", nullptr, 0, nullptr, nullptr, 0, 0, true};
constexpr Step kAwaitFlash{Op::AwaitWork, 10, nullptr, "FLASH", 70, " Flashing EEPROM Failed ", "Flash EEPROM Timeout",
                           kWorkLimit};
constexpr Step kVerify{Op::BeginWork, 11, "Verifying EEPROM    ", nullptr, 0, nullptr, nullptr, 0, 100};
constexpr Step kAwaitVerify{Op::AwaitWork, 12, nullptr, "VERIFY", 70, " Verifying EEPROM Failed ",
                            "Verify EEPROM Timeout", kWorkLimit};
constexpr Step micro(const char *status, int next) { return Step{Op::BeginWork, next, status}; }
constexpr Step awaitMicro(int next)
{
    return Step{Op::AwaitWork, next, nullptr, "MICRO", 44, " Programming Micro Failed ", "Micro Program Timeout",
                kWorkLimit};
}
constexpr Step reset(const char *status, int next)
{
    return Step{Op::BeginWork, next, status, nullptr, 0, nullptr, nullptr, 0, 100, true};
}
constexpr Step kAwaitSuccess17{Op::AwaitSuccess, 18, nullptr, nullptr, 0, nullptr, " Reset Timeout ", kResetLimit};
constexpr Step kSucceed{Op::Succeed};

// KH-71: erase, flash, verify, two microcontrollers, then its "SUCCESS".
const UpdateMachine::Traits kKh71{
    {kWake, kAnnounce, kAwaitReady, kBeginDownload, kSendLine, kAwaitLine, kErase, kAwaitErase, kFlash, kAwaitFlash,
     kVerify, kAwaitVerify, micro("Updating Micro#1   ", 13), awaitMicro(14), micro("Updating Micro#2   ", 15),
     awaitMicro(16), reset("Resetting Unit   ", 17), kAwaitSuccess17, kSucceed},
    0, true, true, true, false, Failure::CloseLink, " Please Close Arxview, and Re-open, and Re-Connect", false,
    " EEPROM Update Succesful "};

// KF-71: as the KH-71 with one microcontroller; its timer is left as it is.
const UpdateMachine::Traits kKf71{
    {Step{Op::Wake, 1}, kAnnounce, kAwaitReady, kBeginDownload, kSendLine, kAwaitLine, kErase, kAwaitErase, kFlash,
     kAwaitFlash, kVerify, kAwaitVerify, micro("Updating Micro   ", 13), awaitMicro(14),
     reset("Resetting Unit   ", 15),
     Step{Op::AwaitSuccess, 16, nullptr, nullptr, 0, nullptr, " Reset Timeout ", kResetLimit}, kSucceed, Step{},
     Step{}},
    0, true, true, true, false, Failure::SendEc, " EEPROM Update Failed ", false, " EEPROM Update Succesful "};

// HD units without display report: plain "PG", the serial-number record
// after the file, one flash phase reported by sector, a fixed restart wait.
const UpdateMachine::Traits kHd{
    {kWake, kAnnounce, kAwaitReady, kBeginDownload, kSendLine, kAwaitLine,
     Step{Op::BeginErase, 9, "Flashing EEPROM     "}, Step{}, Step{},
     Step{Op::AwaitHdFlash, 16, nullptr, "FLASH", 0, " Flashing EEPROM Failed ", "Flash EEPROM Timeout", kWorkLimit},
     Step{}, Step{}, Step{}, Step{}, Step{}, Step{}, reset("Resetting and Configuring Unit   ", 17),
     Step{Op::FixedWait, 18, nullptr, nullptr, 0, nullptr, nullptr, 3000, 0, true}, kSucceed},
    0, false, false, false, true, Failure::SendEc, " EEPROM Update Failed ", true, " EEPROM Update Succesful "};

// The network module: the unit takes the file, loads the module with "UL",
// and both are gone for minutes; nothing is checked after "UL".
const UpdateMachine::Traits kNetwork{
    {Step{}, kAnnounce, kAwaitReady, kBeginDownload, kSendLine, kAwaitLine,
     Step{Op::BeginModuleLoad, 7, "Updating Lantronix  ", nullptr, 0, nullptr, nullptr, 0, 100},
     Step{Op::FixedWait, 17, "Resetting Unit   ", nullptr, 0, nullptr, nullptr, 4200}, Step{}, Step{}, Step{}, Step{},
     Step{}, Step{}, Step{}, Step{}, Step{}, Step{Op::FixedWait, 18, nullptr, nullptr, 0, nullptr, nullptr, 900},
     kSucceed},
    1, true, true, true, false, Failure::SendEc, " Lantronix Update Failed ", true, " Lantronix Update Succesful "};

const UpdateMachine::Traits &traitsOf(UpdateMachine::Kind kind)
{
    switch (kind) {
    case UpdateMachine::Kind::Hd: return kHd;
    case UpdateMachine::Kind::Kf71: return kKf71;
    case UpdateMachine::Kind::Network: return kNetwork;
    default: return kKh71;
    }
}

// The network module closes the link after this many ticks of its wait.
constexpr int kReleaseTick = 10;
// HD units run at 115200 baud once flashed (BaudIndex 1, serial-library code 9).
constexpr int kFastBaudIndex = 1;
constexpr int kFastBaudCode = 9;

int percent(double value)
{
    if (!std::isfinite(value))
        return 0;
    return qBound(0, int(std::lround(value)), 100);
}

} // namespace

UpdateMachine::UpdateMachine(ConnectionPage &page, QObject *parent)
    : QObject(parent), m_page(page), m_traits(&kKh71)
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
    m_traits = &traitsOf(kind);
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
}

void UpdateMachine::abort(Kind kind)
{
    if (!m_running) {
        m_kind = kind;
        m_traits = &traitsOf(kind);
        m_savedInterval = m_page.interval();
        m_dialogClosed = false;
    }
    m_running = true;
    m_step = kFailStep;
    m_page.record().phase = kEepromPhase;
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

// --- loader hand-shake ---------------------------------------------------------------

void UpdateMachine::wake(const Step &s)
{
    if (s.interval)
        m_page.setInterval(s.interval);
    m_page.record().state = state::Updating;
    m_page.clearReceive();
    m_page.sendText("HD\r");
    m_step = s.next;
}

QByteArray UpdateMachine::announcement() const
{
    if (!m_traits->announceCount)
        return "PG\r";
    return "PG" + hextext::hex4(quint16(m_recordCount & 0xFFFF)) + "\r";
}

void UpdateMachine::announce()
{
    m_page.clearReceive();
    m_page.sendText(announcement());
    m_tickCount = 0;
    m_step = 2;
}

bool UpdateMachine::readReply(QByteArray *reply)
{
    *reply = m_page.readCr();
    return m_page.lineComplete();
}

void UpdateMachine::awaitReady(const Step &s)
{
    ++m_tickCount;
    QByteArray reply;
    if (readReply(&reply) && reply.contains("READY")) {
        m_step = s.next;
        return;
    }
    if (m_tickCount == 120) {
        m_page.sendText("\r");
        m_page.sendText(announcement());
        m_page.clearReceive();
    } else if (m_tickCount > s.limit) {
        failWith(QString::fromLatin1(s.timeout));
    }
}

// --- the file, line by line ------------------------------------------------------------

void UpdateMachine::beginDownload()
{
    setProgress(0);
    m_tickCount = m_linesSent = m_dataLines = m_badChecksums = 0;
    m_sendNext = true;
    m_savedInterval = m_page.interval();
    m_page.setInterval(kDownloadInterval);
    showCount();
    if (m_traits->showBadChecksums)
        showBadChecksums();
    setStatus(QStringLiteral("Downloading Program "));
    m_page.clearReceive();
    m_step = 4;
}

void UpdateMachine::sendLine(const Step &s)
{
    m_step = s.next;
    if (m_sendNext) {
        QByteArray line;
        switch (m_file.readLine(&line)) {
        case downloadfile::LineRead::Broken:
            m_page.logMessage(QStringLiteral(" Download File Read Error: ") + m_file.name(), int(LogLevel::Error));
            failWith(QString());
            return;
        case downloadfile::LineRead::End:
            if (m_dataLines < m_recordCount) {
                // Fewer records than line 1 promised: the file was cut short.
                m_page.logMessage(QStringLiteral(" Download File Ends Early: ") + m_file.name(), int(LogLevel::Error));
                failWith(QString());
                return;
            }
            if (m_serialPending) {
                m_serialPending = false;
                line = firmware::serialRecord(m_serialDigits[0], m_serialDigits[1], m_serialDigits[2]);
                break;
            }
            m_file.close();
            m_page.setInterval(m_savedInterval);
            m_step = 6;
            return;
        case downloadfile::LineRead::Ok:
            ++m_dataLines;
            break;
        }
        m_line = line + '\r';
        ++m_linesSent;
        setProgress(m_recordCount > 0 ? percent(m_linesSent * 100.0 / m_recordCount) : 0);
        showCount();
    }
    m_page.clearReceive();
    m_page.sendText(m_line);
}

void UpdateMachine::awaitLineAnswer(const Step &s)
{
    ++m_tickCount;
    QByteArray reply;
    if (readReply(&reply)) {
        if (reply.contains("GC")) {
            m_step = s.next;
            m_sendNext = true;
            m_tickCount = m_badChecksums = 0;
            return;
        }
        if (reply.contains("BC")) {
            m_step = s.next;
            m_sendNext = false;
            m_tickCount = 0;
            ++m_badChecksums;
            if (m_traits->showBadChecksums)
                showBadChecksums();
            if (m_badChecksums > 3) {
                m_page.setInterval(m_savedInterval);
                if (m_traits->sendDeOnBadChecksums)
                    m_page.sendText("DE\r");
                m_dialogClosed = true;
                emit finished(false, QStringLiteral("Bad Checksums, File Maybe Corrupt:  ") + m_file.name());
                m_step = kFailStep;
            }
            return;
        }
    }
    if (m_tickCount == 1500 || m_tickCount == 3000) {
        m_page.sendText("\r");
        m_step = s.next;
        m_sendNext = false;
    } else if (m_tickCount > s.limit) {
        failWith(QString::fromLatin1(s.timeout));
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
    m_page.connectButton();
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
