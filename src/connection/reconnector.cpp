#include "connection/reconnector.h"

#include "connection/connectionpage.h"
#include "core/clock.h"
#include "core/messagelog.h"

int Reconnector::waitSeconds(int failedTries)
{
    int wait = kFirstWaitSeconds;
    for (int i = 0; i < failedTries && wait < kLongestWaitSeconds; ++i)
        wait *= 2;
    return qMin(wait, kLongestWaitSeconds);
}

bool Reconnector::active() const
{
    return m_wanted && m_page.started() && m_page.settings().autoReconnect;
}

void Reconnector::linkOpening()
{
    m_wanted = true;
    if (!m_trying) {
        m_tries = 0;
        m_waiting = false;
    }
}

void Reconnector::stop()
{
    if (m_trying) // our own close before the open
        return;
    m_wanted = false;
    m_waiting = false;
    m_tries = 0;
}

void Reconnector::linkFailed()
{
    if (active() && !m_waiting)
        schedule();
}

void Reconnector::schedule()
{
    m_waiting = true;
    m_due = m_page.clock().now().addSecs(waitSeconds(m_tries));
    m_deviceMissing = m_page.serialDeviceMissing();
}

void Reconnector::tryNow()
{
    m_waiting = false;
    ++m_tries;
    m_page.logMessage(QStringLiteral("Reconnecting automatically (try %1)").arg(m_tries), int(LogLevel::Status));
    m_trying = true;
    m_page.reconnect();
    m_trying = false;
}

void Reconnector::check()
{
    const int state = m_page.record().state;
    const bool enteredError = state == state::Error && m_lastState != state::Error;
    m_lastState = state;
    if (!active()) {
        m_waiting = false;
        return;
    }
    if (state == state::Data) {
        if (m_tries > 0)
            m_page.logMessage(QStringLiteral("Reconnected automatically after %1 %2")
                                  .arg(m_tries)
                                  .arg(m_tries == 1 ? QStringLiteral("try") : QStringLiteral("tries")),
                              int(LogLevel::Status));
        m_tries = 0;
        m_waiting = false;
        return;
    }
    if (state != state::Error) {
        // Opening or detecting: the outcome decides.
        m_waiting = false;
        return;
    }
    if (!m_waiting) {
        if (enteredError)
            schedule();
        return;
    }
    // Only an idle page or one waiting for its link; a running machine
    // (an HD connect or close sequence) finishes first.
    if (m_page.record().phase > 1)
        return;
    const bool missing = m_page.serialDeviceMissing();
    const bool deviceReturned = m_deviceMissing && !missing;
    m_deviceMissing = missing;
    if (deviceReturned || m_page.clock().now() >= m_due)
        tryNow();
}
