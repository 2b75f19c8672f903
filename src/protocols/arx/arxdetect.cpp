// The detect machine of the ARX session (phase 3): wake, log in, identify,
// and check or load the module program from its download file.
#include "protocols/arx/arxsession.h"

#include "connection/connectionsettings.h"
#include "connection/sessionhost.h"
#include "core/messagelog.h"
#include "protocols/arx/arxcommands.h"
#include "update/downloadfile.h"

#include <QIODevice>

namespace {

struct ModelEntry {
    const char *id;
    int unitType;
    int unitFamily;
    int amSubType;
    bool needsCheck;
};

const ModelEntry kModels[] = {
    {"KM71", 1, 0, 0, true},   {"KS71", 2, 0, 0, false},  {"KR71", 4, 0, 0, false},
    {"KC71", 8, 0, 0, false},  {"KV71", 17, 1, 0, true},  {"KV73", 18, 1, 0, true},
    {"KV75", 19, 1, 0, true},  {"KA71", 33, 2, 1, true},  {"KA72", 34, 3, 2, false},
};

// The unit's answer names a file: only a plain name is looked up, so an
// answer cannot reach outside the DLD directory.
bool plainName(const QByteArray &id)
{
    if (id.isEmpty() || id.size() > 32)
        return false;
    for (char c : id) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'
            || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

// The answer as it may appear in a message line.
QString printable(const QByteArray &text)
{
    QString out;
    for (char c : text.left(64))
        out += (uchar(c) >= 0x20 && uchar(c) < 0x7F) ? QLatin1Char(c) : QLatin1Char('?');
    return out;
}

using downloadfile::LineRead;

LineRead readLine(QIODevice &file, QByteArray *line)
{
    return downloadfile::readLine(file, line, ArxSession::kMaxDownloadLine);
}

// Line 1: a decimal integer, anything after it ignored; 16 bits of it are sent.
bool readValue(QIODevice &file, quint16 *value)
{
    QByteArray line;
    qint32 n = 0;
    if (readLine(file, &line) != LineRead::Ok || !downloadfile::leadingInteger(line, &n))
        return false;
    *value = quint16(n & 0xFFFF);
    return true;
}

} // namespace

void ArxSession::closeDownload()
{
    if (m_download) {
        m_download->close();
        m_download.reset();
    }
}

void ArxSession::fail(const QString &message, bool restoreInterval)
{
    ConnectionRecord &r = m_page.record();
    closeDownload();
    r.phase = 0;
    r.state = state::Error;
    m_page.sendText(arx::cmdAbort());
    m_page.sendText(arx::cmdLogOff());
    if (restoreInterval)
        m_page.setInterval(r.savedInterval);
    m_page.logMessage(message, int(LogLevel::Error));
}

void ArxSession::detectStep()
{
    ConnectionRecord &r = m_page.record();
    switch (r.detectStep) {
    case 0:
        m_page.sendText(arx::cmdWake());
        r.savedInterval = m_page.interval();
        m_page.setInterval(250);
        r.state = state::Connecting;
        r.detectStep = 1;
        break;
    case 1:
        r.tickCount = 0;
        m_page.clearReceive();
        m_page.sendText(arx::cmdPasswordPrompt());
        r.detectStep = 2;
        break;
    case 2:
        passwordPromptStep();
        break;
    case 3:
        levelStep();
        break;
    case 4:
        m_page.sendText(arx::cmdIdentify());
        r.tickCount = 0;
        m_page.clearReceive();
        r.detectStep = 5;
        break;
    case 5:
        identifyStep();
        break;
    case 6:
        checkStep(false);
        break;
    case 7:
        sendLineStep();
        break;
    case 8:
        lineAnswerStep();
        break;
    case 9:
        m_page.sendText(arx::cmdDownloadCheck(m_downloadValue));
        r.detectStep = 10;
        r.tickCount = 0;
        m_page.clearReceive();
        break;
    case 10:
        checkStep(true);
        break;
    case 11:
        m_page.setInterval(50);
        r.detectStep = 12;
        m_page.sendText(arx::cmdStart());
        m_page.logMessage(QStringLiteral(" ARX Succesful Connection"), int(LogLevel::Status));
        break;
    case 12:
        m_page.setInterval(50);
        r.phase = 4;
        break;
    default:
        break;
    }
}

// Step 2: the password prompt. A relay server's words begin with "S" and
// contain the unit's, so they are tested first.
void ArxSession::passwordPromptStep()
{
    ConnectionRecord &r = m_page.record();
    ++r.tickCount;
    const QByteArray reply = m_page.readMarked();
    const QByteArray password = m_page.settings().password.toLatin1();
    if (reply.contains("SPASSWORD") || reply.contains("PASSWORD")) {
        const bool relay = reply.contains("SPASSWORD");
        m_page.sendText(relay ? arx::relayPasswordText(password) : arx::passwordText(password));
        r.detectStep = 3;
        r.tickCount = 0;
        r.viaRelay = relay;
        m_page.clearReceive();
        return;
    }
    if (reply.contains("VALID")) {
        // Already logged in ("SVALID" from a relay server).
        r.detectStep = 4;
        m_page.setInterval(100);
        r.viaRelay = reply.contains("SVALID");
        return;
    }
    if (r.tickCount == 25) {
        // Ask again, more slowly.
        m_page.sendText(arx::cmdAbort());
        m_page.sendText(arx::cmdPasswordPrompt());
        m_page.clearReceive();
        m_page.setInterval(1000);
    }
    if (r.tickCount >= 31)
        fail(QStringLiteral(" ARX Hardware not responding check settings "));
}

// Step 3: the access level the unit granted. Its rejection is spelled
// "INVAILD", which does not contain "VALID".
void ArxSession::levelStep()
{
    ConnectionRecord &r = m_page.record();
    ++r.tickCount;
    const QByteArray reply = m_page.readMarkedOrPollEnd();
    if (m_page.lineComplete()) {
        if (reply.contains("INVAILD")) {
            fail(QStringLiteral(" ARX INVAILD PASSWORD             "));
            return;
        }
        if (reply.contains("SUPERVISOR") || reply.contains("OPERATOR") || reply.contains("OBSERVER")) {
            r.detectStep = 4;
            m_page.setInterval(100);
            return;
        }
    }
    if (r.tickCount >= 11)
        fail(QStringLiteral(" ARX password verification failed "));
}

bool ArxSession::identifyModel(const QByteArray &answer)
{
    ConnectionRecord &r = m_page.record();
    r.modelId.clear();
    for (const ModelEntry &m : kModels) {
        if (answer == m.id) {
            r.modelId = answer;
            r.unitType = m.unitType;
            r.unitFamily = m.unitFamily;
            if (m.amSubType)
                m_amSubType = m.amSubType;
            return m.needsCheck;
        }
    }
    return true; // an unknown id is looked up as a file name all the same
}

// Step 5: the model id, then the download file's value for the check.
void ArxSession::identifyStep()
{
    ConnectionRecord &r = m_page.record();
    ++r.tickCount;
    const QByteArray answer = m_page.readMarkedOrPollEnd();
    if (m_page.lineComplete()) {
        const bool needsCheck = identifyModel(answer);
        if (!needsCheck || r.viaRelay)
            r.detectStep = 11;
        else
            startDownloadCheck(answer);
        return;
    }
    if (r.tickCount == 25) {
        m_page.sendText(arx::cmdAbort());
        m_page.sendText(arx::cmdIdentify());
        m_page.clearReceive();
    }
    if (r.tickCount >= 51)
        fail(QStringLiteral(" ARX hardware not responding"));
}

void ArxSession::startDownloadCheck(const QByteArray &answer)
{
    ConnectionRecord &r = m_page.record();
    closeDownload();
    if (plainName(answer))
        m_download = m_openDownload(downloadPath(m_page.baseDirectory(), answer));
    if (!m_download) {
        // The unit is left logged in, as it always was for this failure.
        r.state = state::Error;
        r.phase = 0;
        m_page.logMessage(QStringLiteral(" ARX download file not found ") + printable(answer) + QStringLiteral(".dld"),
                          int(LogLevel::Error));
        return;
    }
    if (!readValue(*m_download, &m_downloadValue)) {
        fail(QStringLiteral(" ARX download file invalid ") + printable(answer) + QStringLiteral(".dld"));
        return;
    }
    m_page.sendText(arx::cmdDownloadCheck(m_downloadValue));
    r.detectStep = 6;
    m_linesSent = 0;
    m_badChecksums = 0;
    m_page.clearReceive();
}

// Steps 6 and 10: the unit's verdict on the program checksum, before the
// download (a good one skips it) and after it (a good one confirms it).
void ArxSession::checkStep(bool final)
{
    ConnectionRecord &r = m_page.record();
    ++r.tickCount;
    const QByteArray reply = m_page.readMarkedOrPollEnd();
    if (m_page.lineComplete()) {
        const bool good = reply.contains("GOOD CHECKSUM");
        if (good) {
            closeDownload();
            r.detectStep = 11;
        } else if (final) {
            fail(QStringLiteral(" ARX download failed"));
        } else {
            r.detectStep = 7;
            m_nextLine = true;
            m_page.clearReceive();
        }
        return;
    }
    if (r.tickCount == 50) {
        m_page.sendText(arx::cmdAbort());
        m_page.sendText(arx::cmdDownloadCheck(m_downloadValue));
        m_page.clearReceive();
    }
    if (r.tickCount >= 101)
        fail(final ? QStringLiteral(" ARX download failed") : QStringLiteral(" ARX hardware not responding"));
}

// Step 7: the next line of the program, or the same one again.
void ArxSession::sendLineStep()
{
    ConnectionRecord &r = m_page.record();
    r.state = state::Downloading;
    if (!m_download) {
        fail(QStringLiteral(" ARX download failed"), true);
        return;
    }
    if (m_nextLine) {
        switch (readLine(*m_download, &m_downloadLine)) {
        case LineRead::End:
            closeDownload();
            r.detectStep = 9;
            return;
        case LineRead::Broken:
            fail(QStringLiteral(" ARX download failed"), true);
            return;
        case LineRead::Ok:
            break;
        }
        r.tickCount = 0;
        ++m_linesSent;
    }
    m_page.sendText(arx::downloadLineText(m_downloadLine));
    r.detectStep = 8;
    m_page.clearReceive();
}

// Step 8: the unit's verdict on one line.
void ArxSession::lineAnswerStep()
{
    ConnectionRecord &r = m_page.record();
    ++r.tickCount;
    const QByteArray reply = m_page.readMarkedOrPollEnd();
    if (m_page.lineComplete()) {
        if (reply.contains("GOOD CHECKSUM")) {
            r.detectStep = 7;
            m_nextLine = true;
            r.tickCount = 0;
            m_badChecksums = 0;
            return;
        }
        if (reply.contains("BAD CHECKSUM")) {
            r.detectStep = 7;
            m_nextLine = false;
            ++m_badChecksums;
            if (m_badChecksums >= 4)
                fail(QStringLiteral(" ARX Download Failed - BAD CHECKSUMS"), true);
            return;
        }
    }
    if (r.tickCount == 25) {
        r.detectStep = 7;
        m_page.sendText(arx::cmdAbort());
        m_nextLine = false;
    } else if (r.tickCount >= 51) {
        fail(QStringLiteral(" ARX download failed"), true);
    }
}
