#include "connection/connectionpage.h"

#include "connection/measurementlog.h"
#include "connection/reconnector.h"
#include "connection/session.h"
#include "core/sharedtimer.h"
#include "link/linereader.h"
#include "link/seriallibrary.h"

ConnectionPage::ConnectionPage(int number, const Environment &env, QObject *parent)
    : QObject(parent), m_number(number), m_env(env), m_reader(std::make_unique<LineReader>()),
      m_measurementLog(std::make_unique<MeasurementLog>(number)),
      m_reconnector(std::make_unique<Reconnector>(*this)), m_timer(std::make_unique<SharedTimer>([this] { tick(); }))
{
    setObjectName(connectionsettings::pageName(number));
    m_settings = ConnectionSettings::defaults(number, env.baseDirectory);
    m_timer->setInterval(kStartInterval);
    if (m_env.serial) {
        connect(m_env.serial, &SerialLibrary::portFailed, this, &ConnectionPage::onSerialFailed);
        connect(m_env.serial, &SerialLibrary::dataArrived, this, &ConnectionPage::onSerialData);
    }
    ensureSession();
}

ConnectionPage::~ConnectionPage()
{
    m_timer->stop();
    m_reader->detach();
}

std::unique_ptr<Session> ConnectionPage::unitSession() const
{
    auto *self = const_cast<ConnectionPage *>(this);
    if (m_env.sessions)
        if (std::unique_ptr<Session> s = m_env.sessions(m_settings.hardwareType, *self))
            return s;
    return std::make_unique<IdleSession>(*self);
}

void ConnectionPage::ensureSession()
{
    if (m_session && m_sessionType == m_settings.hardwareType)
        return;
    retire(std::move(m_session));
    m_session = unitSession();
    m_sessionType = m_settings.hardwareType;
}

// --- settings -----------------------------------------------------------------

void ConnectionPage::resetRunTime()
{
    m_record = ConnectionRecord();
    m_store.reset();
    m_reader->clearReceive();
    m_measurementLog->close();
    m_baudCode = connectionsettings::baudCode(m_settings.hardwareType, m_settings.baudIndex, m_baudCode);
}

bool ConnectionPage::loadSettings(QString *error)
{
    ConnectionSettings loaded;
    QString reason;
    const bool ok = connectionsettings::load(m_env.baseDirectory, m_number, loaded, &reason);
    // The fields read before a bad line are taken even when the page does not start.
    m_settings = loaded;
    ensureSession();
    emit settingsChanged();
    if (!ok) {
        m_started = false;
        m_timerWanted = false;
        m_timer->stop();
        if (error)
            *error = reason;
        return false;
    }
    resetRunTime();
    m_thirdColumn = m_session->hardwareThirdColumn();
    showConnection();
    showHardware();
    m_timer->setInterval(kStartInterval);
    m_timerWanted = true;
    m_timer->start();
    m_started = true;
    if (m_settings.autoConnect)
        openLink();
    if (m_settings.logEnabled)
        openLog();
    return true;
}

bool ConnectionPage::saveSettings(QString *error)
{
    return connectionsettings::save(m_env.baseDirectory, m_number, m_settings, error);
}

void ConnectionPage::setSettings(const ConnectionSettings &s)
{
    m_settings = s;
    ensureSession();
    m_baudCode = connectionsettings::baudCode(m_settings.hardwareType, m_settings.baudIndex, m_baudCode);
    m_thirdColumn = m_session->hardwareThirdColumn();
    m_record.unitsShown = 0xFFFF;
    showHardware();
    showConnection();
    wake();
    emit settingsChanged();
}

// --- timer ----------------------------------------------------------------------

void ConnectionPage::setInterval(int ms)
{
    m_timer->setInterval(ms);
}

int ConnectionPage::interval() const
{
    return m_timer->interval();
}

bool ConnectionPage::timerActive() const
{
    return m_timerWanted;
}

bool ConnectionPage::timerResting() const
{
    return m_timerWanted && !m_timer->isActive();
}

void ConnectionPage::stopTimer()
{
    m_timerWanted = false;
    m_timer->stop();
}

void ConnectionPage::wake()
{
    if (!m_timerWanted)
        return;
    if (m_timer->isActive()) {
        m_timer->endSkip();
        return;
    }
    m_timer->start();
    emit timerWoke();
}

void ConnectionPage::tick()
{
    m_retired.clear();
    m_session->tick();
    m_reconnector->check();
    // Phase 0 runs nothing on a tick: rest until something gives the page work.
    if (m_record.phase == 0 && !m_reconnector->waiting()) {
        m_timer->stop();
        return;
    }
    m_timer->skip(roundsToSkip());
}

// Ticks that would find nothing to do are skipped: the page ticks again in
// the first of its rounds that reaches the session's next step.
int ConnectionPage::roundsToSkip() const
{
    // A reconnection not yet confirmed by data ticks on, so that it is
    // reported when the data comes.
    if (m_reconnector->waiting() || m_reconnector->tries() > 0)
        return 0;
    const qint64 quiet = m_session->quietMs();
    const int interval = m_timer->interval();
    if (interval <= 0 || quiet <= interval)
        return 0;
    return int(qMin<qint64>((quiet - 1) / interval, 1 << 20));
}

void ConnectionPage::linkReadable()
{
    if (m_link.target())
        m_session->onSocketRead();
}

// --- sessions -------------------------------------------------------------------------

void ConnectionPage::retire(std::unique_ptr<Session> session)
{
    if (session)
        m_retired.push_back(std::move(session));
}

void ConnectionPage::runSession(std::unique_ptr<Session> session)
{
    if (!session)
        return;
    retire(std::move(m_session));
    m_session = std::move(session);
    wake();
}

Session &ConnectionPage::endSession(bool reconnect)
{
    retire(std::move(m_session));
    m_session = unitSession();
    m_sessionType = m_settings.hardwareType;
    if (reconnect)
        m_session->connectButton();
    wake();
    return *m_session;
}

// --- buttons ----------------------------------------------------------------------

void ConnectionPage::connectButton()
{
    m_session->connectButton();
    wake();
}

void ConnectionPage::disconnectButton()
{
    m_reconnector->stop();
    m_session->disconnectButton();
    wake();
}

void ConnectionPage::requestShutdown()
{
    m_reconnector->stop();
    m_session->requestShutdown();
    wake();
}

void ConnectionPage::startPasswordChange()
{
    m_session->startPasswordChange();
    wake();
}

// --- RelaySource --------------------------------------------------------------------

QByteArray ConnectionPage::kxStoredFrame(char selector) const
{
    return m_session->kxStoredFrame(selector);
}

bool ConnectionPage::queueUnitCommand(const QByteArray &text)
{
    const bool queued = m_session->queueUnitCommand(text);
    wake(); // goes out at the next tick
    return queued;
}

void ConnectionPage::setTestLink(ByteLink *link)
{
    m_testLink = link;
}
