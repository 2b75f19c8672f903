#include "protocols/hd/linesession.h"

#include "connection/connectionsettings.h"
#include "connection/sessionhost.h"
#include "core/clock.h"
#include "core/datetime.h"
#include "core/messagelog.h"
#include "protocols/hd/hdcommands.h"
#include "protocols/hd/linedecoder.h"

namespace {

constexpr int kPollInterval = 125;
constexpr int kMachineInterval = 100;
// Ticks of 100 ms the unit is given to end its session before the link closes.
constexpr int kEndWait = 20;

} // namespace

LineSession::LineSession(SessionHost &page, const LineFamily &family, std::unique_ptr<LineDecoder> decoder)
    : Session(page), m_family(family), m_decoder(std::move(decoder))
{
}

LineSession::~LineSession() = default;

void LineSession::tick()
{
    switch (m_page.record().phase) {
    case WaitLink:
        waitForLink();
        break;
    case Detect:
        detectStep();
        break;
    case Polling:
        pollStep();
        break;
    case ConnectReset:
        connectMachine();
        break;
    case DisconnectReset:
        m_page.setInterval(kMachineInterval);
        closeMachine(false);
        break;
    case Exit:
        m_page.setInterval(kMachineInterval);
        closeMachine(true);
        break;
    default: // the update phases run as an update session in this one's place
        break;
    }
}

// --- buttons -------------------------------------------------------------------

void LineSession::connectButton()
{
    m_connectDone = false;
    m_connectStep = 0;
    m_page.record().phase = ConnectReset;
}

void LineSession::disconnectButton()
{
    m_disconnectDone = false;
    m_closeStep = 0;
    m_page.record().phase = DisconnectReset;
}

// The KF-71 ends its unit session as the HD monitors do: a unit left
// streaming would otherwise keep its session open after the program is gone.
void LineSession::requestShutdown()
{
    m_page.record().exitDone = false;
    m_closeStep = 0;
    m_page.record().phase = Exit;
}

void LineSession::linkOpening()
{
    m_cutter.clear();
    m_identity.present = false;
    m_updateDialogNeeded = false;
}

QList<HardwareRow> LineSession::hardwareRows() const
{
    return m_family.rows(m_identity);
}

QString LineSession::hardwareThirdColumn() const
{
    return m_family.thirdColumn;
}

// --- connected -------------------------------------------------------------------

void LineSession::pollStep()
{
    m_page.setInterval(kPollInterval);
    serviceCommand();
    receiveStep();
    if (m_page.record().newData)
        decodeNewest();
}

void LineSession::decodeNewest()
{
    m_page.record().newData = false;
    if (!m_decoder)
        return;
    const QByteArray frame = m_page.store().newest(m_family.recordKind);
    m_decoder->decode(QByteArrayView(frame).first(qMin(frame.size(), qsizetype(kUnitFrameSize))));
    if (m_family.textLog)
        m_page.logHdLine(m_decoder->logSample());
}

void LineSession::serviceCommand()
{
    PendingCommand &p = m_page.record().pendingCommand;
    if (!p.pending)
        return;
    p.pending = false;
    QByteArray text;
    switch (p.kind) {
    case 0:
        text = hd::parameterCommand(p.number, m_decoder ? m_decoder->parameterValue(p.number, p.value)
                                                        : std::nullopt);
        break;
    case 1:
        text = hd::buttonCommand(p.number, p.value, m_family.buttonValues);
        break;
    case 99:
        text = p.text;
        break;
    default:
        break; // an unknown kind is dropped
    }
    if (!text.isEmpty())
        m_page.sendText(text);
}

FrameFormat LineSession::frameFormat(bool viaRelay)
{
    FrameFormat f;
    f.sync = QByteArray("\xFF\xFE\xFD", 3);
    f.length = viaRelay ? kRelayFrameSize : kUnitFrameSize;
    // Bytes before a marker are never filed as a frame; a marker split over
    // two reads is kept.
    f.noSync = FrameFormat::NoSync::Drop;
    f.staleMs = kStaleFrameMs;
    f.limit = kFrameTextLimit;
    return f;
}

// Serial, modem and network alike: a unit reached through a modem streams
// over the same serial port.
void LineSession::receiveStep()
{
    // Frames mostly come with their read event: a tick usually finds
    // nothing waiting and nothing cut, and then does no more.
    if (m_cutter.isEmpty() && m_page.bytesWaiting() == 0)
        return;
    const QDateTime now = m_page.clock().now();
    take(m_page.readFrameBytes(kSerialFrameRead));
    if (const std::optional<QByteArray> frame = m_cutter.cut())
        fileFrame(*frame, now);
}

// A streaming unit's frames come with their read event and commands wake
// the page: while nothing waits to be cut, decoded or sent, the polling
// tick has nothing to do. It still runs every ten seconds.
qint64 LineSession::quietMs() const
{
    if (m_page.record().phase != Polling || !nothingWaiting(m_cutter.isEmpty()))
        return 0;
    return kQuietPollingMs;
}

// A streaming unit's frames are cut, filed (and so relayed), decoded and
// logged the moment their last bytes come, not at the next tick. The tick
// keeps the protocol's steps: the pending command, the poll interval, and
// one frame from what a read left behind.
void LineSession::onSocketRead()
{
    if (m_page.record().phase != Polling)
        return;
    const QByteArray bytes = m_page.readFrameBytes(SessionHost::kNetworkReadLimit);
    if (bytes.isEmpty())
        return;
    take(bytes);
    const QDateTime now = m_page.clock().now();
    while (const std::optional<QByteArray> frame = m_cutter.cut()) {
        fileFrame(*frame, now);
        decodeNewest();
    }
}

void LineSession::take(const QByteArray &bytes)
{
    ConnectionRecord &r = m_page.record();
    if (m_format != int(r.viaRelay))
        m_cutter.setFormat(frameFormat(r.viaRelay));
    m_format = int(r.viaRelay);
    const int stale = m_cutter.staleDropped();
    m_cutter.append(bytes, m_page.clock().nowMs());
    r.badFrames += quint64(qMax(0, m_cutter.staleDropped() - stale));
}

void LineSession::fileFrame(const QByteArray &frame, const QDateTime &now)
{
    ConnectionRecord &r = m_page.record();
    ++r.framesSinceShown;
    r.newData = true;
    // A relay server's record already ends in the stamp the other station gave it.
    m_page.fileRecord(m_family.recordKind, r.viaRelay ? frame : frame + datetime::stampOf(now));
}

// --- connect, disconnect and exit --------------------------------------------------

void LineSession::connectMachine()
{
    ConnectionRecord &r = m_page.record();
    switch (m_connectStep) {
    case 0:
        m_page.setInterval(kMachineInterval);
        m_connectStep = r.portOpen ? 1 : 5;
        break;
    case 1:
        m_page.sendText(hd::cmdHd());
        m_connectStep = 2;
        break;
    case 2:
        m_page.sendText(hd::cmdEc());
        m_connectStep = 3;
        r.tickCount = 0;
        break;
    case 3:
        if (++r.tickCount > kEndWait) {
            m_connectStep = 4;
            r.tickCount = 0;
        }
        break;
    case 4:
        m_connectStep = 5;
        m_page.closeLink();
        r.phase = ConnectReset;
        break;
    case 5:
        m_page.openLink();
        m_connectDone = true;
        break;
    default:
        break;
    }
}

void LineSession::closeMachine(bool exiting)
{
    static const QString kTrace[] = {QStringLiteral(" Exit 0"), QStringLiteral(" Exit 0-1"),
                                     QStringLiteral(" Exit 0-1-2"), QStringLiteral(" Exit 0-1-2-3")};
    ConnectionRecord &r = m_page.record();
    if (exiting && m_closeStep >= 0 && m_closeStep <= 3)
        m_page.logMessage(kTrace[m_closeStep], int(LogLevel::Debug));
    switch (m_closeStep) {
    case 0:
        m_page.sendText(hd::cmdHd());
        m_closeStep = 1;
        break;
    case 1:
        m_page.sendText(hd::cmdEc());
        m_closeStep = 2;
        r.tickCount = 0;
        break;
    case 2:
        if (++r.tickCount > kEndWait) {
            m_closeStep = 3;
            r.tickCount = 0;
        }
        break;
    case 3:
        m_page.closeLink();
        if (exiting)
            r.exitDone = true;
        else
            m_disconnectDone = true;
        break;
    default:
        break;
    }
}
