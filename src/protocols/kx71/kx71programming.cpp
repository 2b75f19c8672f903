// Finding the KX-71 (phase 2) and its programming phase (phase 3): the heads
// of its two program files and its version reply are read and kept beside
// each other, then the data stream is started.
#include "protocols/kx71/kx71session.h"

#include "connection/connectionsettings.h"
#include "connection/sessionhost.h"
#include "core/messagelog.h"
#include "protocols/kx71/kx71commands.h"
#include "update/downloadfile.h"

#include <QIODevice>

namespace {

// A decimal integer of a few characters, leading blanks allowed.
std::optional<int> decimal(const QByteArray &text)
{
    const QByteArray t = text.trimmed();
    if (t.isEmpty() || text.endsWith(' '))
        return std::nullopt;
    for (char c : t)
        if (c < '0' || c > '9')
            return std::nullopt;
    return t.toInt();
}

} // namespace

QString Kx71Session::programPath(const QString &baseDirectory, const char *name)
{
    return baseDirectory + QStringLiteral("/DLD/") + QLatin1String(name);
}

Kx71Session::ProgramHead Kx71Session::readProgramHead(QIODevice &file)
{
    ProgramHead head;
    head.found = true;
    qint32 count = 0;
    QByteArray first, second;
    if (!downloadfile::readInteger(file, &count)
        || downloadfile::readLine(file, &first) != downloadfile::LineRead::Ok
        || downloadfile::readLine(file, &second) != downloadfile::LineRead::Ok)
        return head;
    head.recordCount = quint16(count & 0xFFFF);
    head.text = QString::fromLatin1(first + ' ' + second);
    head.major = decimal(second.mid(0, 2));
    head.minor = decimal(second.mid(3, 2));
    return head;
}

Kx71Session::VersionParts Kx71Session::parseVersion(const QByteArray &reply)
{
    VersionParts parts;
    if (reply.size() < 27)
        return parts;
    static const int numberAt[4] = {8, 11, 22, 25};
    for (int i = 0; i < 4; ++i) {
        parts.numbers[size_t(i)] = decimal(reply.mid(numberAt[i], 2));
        if (!parts.numbers[size_t(i)])
            return VersionParts();
    }
    parts.first = reply.mid(3, 10);
    parts.second = reply.mid(17, 10);
    return parts;
}

// Phase 2, one step per second: stop any stream, ask for the type, and
// wait for "KX-71", asking again on the 4th and 8th tick.
void Kx71Session::detectStep()
{
    ConnectionRecord &r = m_page.record();
    switch (r.detectStep) {
    case 0:
        m_page.sendText(kx71::cmdStop());
        r.detectStep = 1;
        r.state = state::Connecting;
        break;
    case 1:
        r.tickCount = 0;
        m_page.clearReceive();
        m_page.sendText(kx71::cmdType());
        r.detectStep = 2;
        break;
    case 2: {
        ++r.tickCount;
        r.kxTypeReply = m_page.readMarked();
        if (m_page.lineComplete() && r.kxTypeReply == "KX-71") {
            r.tickCount = 0;
            m_updateStep = 0;
            r.phase = 3;
            break;
        }
        if (r.tickCount == kTypeAskAgain1 || r.tickCount == kTypeAskAgain2) {
            m_page.clearReceive();
            m_page.sendText(kx71::cmdType());
        }
        if (r.tickCount >= kTypeLimit) {
            r.phase = 0;
            r.state = state::Error;
            m_page.logMessage(QStringLiteral(" KX-71 not responding check settings "), int(LogLevel::Error));
        }
        break;
    }
    default:
        break;
    }
}

void Kx71Session::readHead(const char *name, ProgramHead &head)
{
    const QString path = programPath(m_page.baseDirectory(), name);
    head = ProgramHead();
    std::unique_ptr<QIODevice> file = m_openFile(path);
    if (!file) {
        // The analyzer keeps the program it holds: the connection goes on.
        m_page.logMessage(QStringLiteral("File not found:") + path, int(LogLevel::Error));
        return;
    }
    head = readProgramHead(*file);
    if (head.text.isEmpty())
        m_page.logMessage(QStringLiteral("File has no version head:") + path, int(LogLevel::Error));
}

// Phase 3, one step per tick: three ticks from detection to the stream.
void Kx71Session::programmingStep()
{
    ConnectionRecord &r = m_page.record();
    switch (m_updateStep) {
    case 0:
        m_page.clearReceive();
        m_page.sendText(kx71::cmdVersion());
        readHead("KXHC11.DLD", m_microHead);
        m_updateStep = 1;
        break;
    case 1:
        // Whatever has come by now; a late or missing reply leaves it short.
        r.kxVersionReply = m_page.readMarked();
        m_versionParts = parseVersion(r.kxVersionReply);
        readHead("KXDSP.DLD", m_dspHead);
        m_updateStep = 2;
        break;
    case 2:
        r.phase = 4;
        m_present = true;
        r.unitsChanged = 1;
        m_page.showHardware();
        m_page.sendText(kx71::cmdRestart());
        // The first frame is watched for like every other: one lost on the
        // way would otherwise leave the stream stopped for good.
        m_awaitingFrame = true;
        m_watchdog = 0;
        m_page.logMessage(QStringLiteral(" KX-71 Succesful Connection"), int(LogLevel::Status));
        break;
    default:
        break;
    }
}
