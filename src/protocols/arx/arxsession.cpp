#include "protocols/arx/arxsession.h"

#include "connection/connectionsettings.h"
#include "connection/sessionhost.h"
#include "core/clock.h"
#include "core/datetime.h"
#include "core/messagelog.h"
#include "protocols/arx/arxcommands.h"
#include "protocols/arx/arxdecoder.h"
#include "protocols/arx/modemdialler.h"
#include "protocols/arx/passwordchange.h"
#include "update/downloadfile.h"

#include <QIODevice>
#include <cmath>

ArxSession::ArxSession(SessionHost &page)
    : Session(page), m_decoder(std::make_unique<ArxDecoder>()), m_dialler(std::make_unique<ModemDialler>(page)),
      m_passwordChange(std::make_unique<PasswordChange>(page)), m_openDownload(downloadfile::open)
{
}

ArxSession::~ArxSession() = default;

QString ArxSession::downloadPath(const QString &baseDirectory, const QByteArray &modelId)
{
    return baseDirectory + QStringLiteral("/DLD/") + QString::fromLatin1(modelId) + QStringLiteral(".DLD");
}

void ArxSession::tick()
{
    if (m_page.record().phase != 4)
        m_lastFrameMs = -1; // the silence watch counts from the return to polling
    switch (m_page.record().phase) {
    case 1:
        waitForLink();
        break;
    case 2:
        m_dialler->step();
        break;
    case 3:
        detectStep();
        break;
    case 4: {
        // Twenty ticks a second on each polling page: no local date-time
        // is made for them.
        const qint64 nowMs = m_page.clock().nowMs();
        pollStep(datetime::timeOfDay(m_page.clock().msecsSinceStartOfDay()));
        receiveStep(nowMs);
        if (m_page.record().newData)
            decode();
        watchSilence(nowMs);
        break;
    }
    case 5:
        m_passwordChange->step();
        break;
    default:
        break;
    }
}

// Between polls a polling page has nothing to do until the next poll or
// the silence report is due: frames come with their read event, commands
// and link changes wake the page. Anything waiting to be cut, decoded or
// sent keeps it ticking.
qint64 ArxSession::quietMs() const
{
    if (m_page.record().phase != 4 || !nothingWaiting(m_cutter.isEmpty()))
        return 0;
    constexpr double kMsPerDay = 86400000.0;
    qint64 quiet = qint64(std::ceil((kPollPeriod - m_pollElapsed) * kMsPerDay));
    if (!m_silenceReported && m_lastFrameMs >= 0)
        quiet = qMin(quiet, m_lastFrameMs + kSilenceAlarmMs - m_page.clock().nowMs());
    return qMax<qint64>(quiet, 0);
}

// Polling goes on however long a unit stays silent (a cable pulled, a unit
// switched off, a far end gone without closing): say so once, and again when
// data comes back, so the operator does not have to watch the state column.
void ArxSession::watchSilence(qint64 nowMs)
{
    if (m_lastFrameMs < 0)
        m_lastFrameMs = nowMs;
    if (!m_silenceReported && nowMs - m_lastFrameMs >= kSilenceAlarmMs) {
        m_silenceReported = true;
        m_page.logMessage(QStringLiteral(" ARX no data from the unit for %1 seconds").arg(kSilenceAlarmMs / 1000),
                          int(LogLevel::Error));
    }
}

void ArxSession::waitForLink()
{
    ConnectionRecord &r = m_page.record();
    if (!r.portOpen)
        return;
    if (m_page.settings().connectionType == connection::Modem) {
        r.phase = 2;
        r.dialStep = 0;
    } else {
        r.phase = 3;
        r.detectStep = 0;
    }
    m_page.showConnection();
}

void ArxSession::disconnectButton()
{
    m_page.sendText(arx::cmdLogOff());
    m_page.closeLink();
}

void ArxSession::linkOpening()
{
    m_cutter.clear();
    m_decoder->reset();
    closeDownload();
    m_pollLast = 0.0;
    m_pollElapsed = 0.0;
    m_lastFrameMs = -1;
    m_silenceReported = false;
}

void ArxSession::startPasswordChange()
{
    m_passwordChange->start();
    // A change started in the middle of detection ends any download.
    if (m_page.record().phase == 5)
        closeDownload();
}

void ArxSession::setNewPassword(const QByteArray &password)
{
    m_passwordChange->setNewPassword(password);
}

// --- connected: poll, receive, cut, file -----------------------------------------

void ArxSession::pollStep(double now)
{
    ConnectionRecord &r = m_page.record();
    // A pass through midnight counts as a long interval, so the poll goes out.
    m_pollElapsed += std::fabs(now - m_pollLast);
    if (m_pollElapsed < kPollPeriod) {
        if (r.pendingCommand.pending) {
            r.pendingCommand.pending = false;
            // A builder given an argument out of range left nothing to send.
            if (!r.pendingCommand.text.isEmpty())
                m_page.sendText(r.pendingCommand.text);
        }
    } else {
        m_pollElapsed = 0.0;
        m_page.sendText(arx::cmdPoll());
    }
    m_pollLast = now;
}

void ArxSession::receiveStep(qint64 nowMs)
{
    // Frames mostly come with their read event: a tick usually finds
    // nothing waiting and nothing cut, and then does no more.
    if (m_cutter.isEmpty() && m_page.bytesWaiting() == 0)
        return;
    useFormat(m_page.record().viaRelay);
    const QByteArray bytes = m_page.readFrameBytes(kSerialFrameRead);
    if (!bytes.isEmpty())
        m_cutter.append(bytes, nowMs);
    if (const std::optional<QByteArray> frame = m_cutter.cut())
        frameStep(*frame);
}

void ArxSession::useFormat(bool viaRelay)
{
    if (m_format != int(viaRelay))
        m_cutter.setFormat(frameFormat(viaRelay));
    m_format = int(viaRelay);
}

// A unit's frames are cut, filed and decoded when their bytes come (socket,
// serial or modem line alike), so a record goes out to the viewers at once
// instead of at the next tick. Each frame gets the steps the tick would give
// it; the tick still polls, and still takes what a partial frame leaves.
// All that waits is taken: a serial port's queue is bounded by the port.
void ArxSession::onSocketRead()
{
    ConnectionRecord &r = m_page.record();
    if (r.phase != 4)
        return;
    const QByteArray bytes = m_page.readFrameBytes(SessionHost::kNetworkReadLimit);
    if (bytes.isEmpty())
        return;
    useFormat(r.viaRelay);
    m_cutter.append(bytes, m_page.clock().nowMs());
    while (const std::optional<QByteArray> frame = m_cutter.cut()) {
        frameStep(*frame);
        if (r.newData)
            decode();
    }
}

FrameFormat ArxSession::frameFormat(bool viaRelay)
{
    FrameFormat f;
    f.sync = QByteArray("\xFF\xFE\xFD", 3);
    f.length = viaRelay ? kRelayFrameSize : kUnitFrameSize;
    // Without sync anywhere the bytes are cut as if a frame started at the
    // first one and rejected by the signature check, length - 1 at a time.
    f.noSync = FrameFormat::NoSync::CutBlock;
    f.staleMs = kStaleFrameMs;
    f.limit = kFrameTextLimit;
    return f;
}

void ArxSession::frameStep(const QByteArray &frame)
{
    int layout = 0;
    int subType = 0;
    ConnectionRecord &r = m_page.record();
    if (!ArxDecoder::recognise(frame, &layout, &subType)) {
        ++r.badFrames;
        return;
    }

    r.newData = true;
    r.state = state::Data;
    ++r.framesSinceShown;

    const QDateTime now = m_page.clock().now();
    m_lastFrameMs = m_page.clock().nowMs();
    if (m_silenceReported) {
        m_silenceReported = false;
        m_page.logMessage(QStringLiteral(" ARX data received again"), int(LogLevel::Status));
    }
    // A relayed frame keeps the far end's stamp; the daily log file still
    // changes by this station's clock, so a skewed or replaying far end
    // makes no extra files.
    const QByteArray record = r.viaRelay ? frame : frame + datetime::stampOf(now);
    m_page.fileRecord(RecordKind::Arx, record);
    m_page.logArxRecord(record, now);
    m_decoder->fileFrame(frame, r.unitType, m_amSubType);
}

void ArxSession::decode()
{
    ConnectionRecord &r = m_page.record();
    m_decoder->decodePending();
    r.unitsChanged = m_decoder->unitsChanged();
    m_page.showHardware();
    r.newData = false;
}

QList<HardwareRow> ArxSession::hardwareRows() const
{
    const QString caption = hardware::caption(hardware::Arx);
    QList<HardwareRow> rows;
    auto add = [&](ArxModule m, const QString &unit) {
        const ArxModuleIdentity &id = m_decoder->identity(m);
        if (id.present)
            rows << HardwareRow{caption, unit, id.idText, id.serial};
    };
    add(ArxModule::Km71, QStringLiteral(" KM-71"));
    add(ArxModule::Option, QLatin1Char(' ') + m_decoder->identity(ArxModule::Option).name);
    add(ArxModule::Ks71, QStringLiteral(" KS-71"));
    add(ArxModule::Kr71, QStringLiteral(" KR-71"));
    add(ArxModule::Kc71Ch0, QStringLiteral(" KC-71 0"));
    add(ArxModule::Kc71Ch1, QStringLiteral(" KC-71 1"));
    add(ArxModule::Kv73, QStringLiteral(" KV-73 "));
    add(ArxModule::Kv75, QStringLiteral(" KV-75 "));
    add(ArxModule::Ka71, QStringLiteral(" KA-71 "));
    add(ArxModule::Ka72, QStringLiteral(" KA-72 "));
    return rows;
}
