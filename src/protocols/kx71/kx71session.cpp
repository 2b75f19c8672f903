#include "protocols/kx71/kx71session.h"

#include "connection/connectionsettings.h"
#include "connection/sessionhost.h"
#include "core/clock.h"
#include "protocols/kx71/kx71commands.h"
#include "update/downloadfile.h"

#include <QIODevice>

Kx71Session::Kx71Session(SessionHost &page) : Session(page), m_openFile(downloadfile::open) {}

Kx71Session::~Kx71Session() = default;

void Kx71Session::setInterval(int ms)
{
    if (m_page.interval() != ms)
        m_page.setInterval(ms);
}

void Kx71Session::tick()
{
    switch (m_page.record().phase) {
    case 1:
        waitForLink();
        break;
    case 2:
        setInterval(kSlowTick);
        detectStep();
        break;
    case 3:
        programmingStep();
        break;
    case 4:
        setInterval(kRunTick);
        // A modem line is a serial port once the call stands.
        if (m_page.isSerial())
            receive(kSerialRead);
        if (m_page.record().newData)
            decodeAndRequest();
        watchdog();
        break;
    default:
        break;
    }
}

void Kx71Session::waitForLink()
{
    ConnectionRecord &r = m_page.record();
    if (!r.portOpen)
        return;
    r.phase = 2;
    r.detectStep = 0;
    m_page.showConnection();
}

// Serial and network alike: frames are cut and filed as their bytes come;
// the tick decodes the newest and asks for the next, as the protocol's steps
// and the watchdog's counts go by ticks.
void Kx71Session::onSocketRead()
{
    if (m_page.record().phase == 4)
        receive(SessionHost::kNetworkReadLimit);
}

void Kx71Session::disconnectButton()
{
    m_page.sendText(kx71::cmdStop());
    m_page.closeLink();
}

void Kx71Session::linkOpening()
{
    m_cutter.clear();
    m_present = false;
    m_updateStep = 0;
    m_awaitingFrame = false;
    m_watchdog = 0;
}

QList<HardwareRow> Kx71Session::hardwareRows() const
{
    if (!m_present)
        return {};
    return {HardwareRow{hardware::caption(hardware::Kx71), QStringLiteral(" KX-71 "),
                        QStringLiteral("N/A"), QStringLiteral("340000")}};
}

QByteArray Kx71Session::kxStoredFrame(char selector) const
{
    return m_store.selected(selector);
}

bool Kx71Session::queueUnitCommand(const QByteArray &text)
{
    if (text.isEmpty() || text.size() > kMaxCommand)
        return false;
    return Session::queueUnitCommand(text);
}

// --- running: cut, file, decode, ask for the next ----------------------------------

// Frames are cut from the byte stream whatever the reads look like: TCP keeps
// no message boundaries, and a serial read may hold noise before a frame.
void Kx71Session::receive(int serialMax)
{
    const QByteArray bytes = m_page.readFrameBytes(serialMax);
    if (bytes.isEmpty())
        return; // every whole frame was cut when its last bytes came
    if (m_cutter.format().length == 0)
        m_cutter.setFormat(kx71::frameFormat());
    m_cutter.append(bytes, m_page.clock().nowMs());
    while (const std::optional<QByteArray> frame = m_cutter.cut())
        fileFrame(*frame);
}

void Kx71Session::fileFrame(const QByteArray &frame)
{
    ConnectionRecord &r = m_page.record();
    const bool sound = kx71::checksumOk(frame);
    if (!sound)
        ++m_badChecksums;
    r.badFrames += sound ? 0 : 1;
    ++r.framesFiled;
    r.lastFrameMs = m_page.clock().nowMs();
    m_store.file(frame, sound);
    r.newData = true;
    m_awaitingFrame = false;
    r.state = state::Data;
    ++r.framesSinceShown;
}

void Kx71Session::decodeAndRequest()
{
    ConnectionRecord &r = m_page.record();
    // A frame whose checksum failed still gives its values.
    m_values = Kx71Values::decode(m_store.record(m_store.frameIndex()));
    m_awaitingFrame = true;
    r.newData = false;
    m_watchdog = 0;
    PendingCommand &p = r.pendingCommand;
    const QByteArray command = p.pending ? kx71::withModeDigit(p.text, m_values.dataMode) : QByteArray();
    p.pending = false;
    m_page.sendText(command.isEmpty() ? kx71::cmdRequest(m_values.dataMode) : command);
}

void Kx71Session::watchdog()
{
    if (!m_awaitingFrame)
        return;
    if (++m_watchdog > kWatchdogLimit) {
        m_page.sendText(kx71::cmdRestart());
        m_watchdog = 0;
        ++m_retries;
    }
}
