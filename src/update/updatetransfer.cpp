// The update machines' transfer: waking the unit's loader, announcing the
// program, and the download file line by line against the unit's checksum
// answers. What follows (the unit's own work, the end) is updatemachine.cpp.
#include "update/updatemachine.h"

#include "connection/sessionhost.h"
#include "core/hextext.h"
#include "core/messagelog.h"
#include "update/firmwarefiles.h"
#include "update/updatesteps.h"

using updatesteps::percent;

namespace {

// The timer while the file's lines go out.
constexpr int kDownloadInterval = 10;

} // namespace

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
