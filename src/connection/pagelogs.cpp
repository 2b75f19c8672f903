// The page's message lines and its measurement log, with the failures of
// the log reported once.
#include "connection/connectionpage.h"

#include "connection/measurementlog.h"
#include "core/clock.h"
#include "core/messagelog.h"

// --- messages and measurement log -------------------------------------------------

void ConnectionPage::logMessage(const QString &text, int level)
{
    if (m_env.log)
        m_env.log->log(objectName(), text, level);
}

void ConnectionPage::reportLogFailure(const QString &error)
{
    ++m_record.logFailures;
    logMessage(QStringLiteral("Log file error: ") + error, int(LogLevel::Error));
    emit errorRaised(error);
}

void ConnectionPage::openLog()
{
    QString error;
    if (!m_measurementLog->open(m_settings.hardwareType, m_settings.logDirectory, m_settings.logPrefix,
                                m_env.clock->now(), &error))
        reportLogFailure(error);
}

void ConnectionPage::logArxRecord(const QByteArray &frameText, const QDateTime &stamp)
{
    QString error;
    if (!m_measurementLog->logArxRecord(frameText, stamp, m_env.clock->now(), m_settings.logEnabled, &error))
        reportLogFailure(error);
    reportLogResumed();
}

void ConnectionPage::reportLogResumed()
{
    if (m_measurementLog->takeResumed())
        logMessage(QStringLiteral("Log file resumed: ") + m_measurementLog->fileName(), int(LogLevel::Status));
}

void ConnectionPage::logHdLine(std::optional<qint32> totalLevel)
{
    QString error;
    if (!m_measurementLog->logHdLine(m_env.clock->now(), totalLevel, m_settings.logEnabled, &error))
        reportLogFailure(error);
    reportLogResumed();
}

void ConnectionPage::closeLog()
{
    m_measurementLog->close();
}
