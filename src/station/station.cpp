#include "station/station.h"

#include "connection/connectionpage.h"
#include "core/clock.h"
#include "core/configfiles.h"
#include "core/messagelog.h"
#include "core/socketerrors.h"
#include "link/comportmap.h"
#include "link/seriallibrary.h"
#include "playback/logplayer.h"
#include "protocols/sessionfactory.h"
#include "server/relayservers.h"
#include "server/serversettings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

Station::Station(const QString &baseDirectory, const Clock &clock, QObject *parent)
    : QObject(parent), m_baseDirectory(baseDirectory), m_clock(clock),
      m_log(std::make_unique<MessageLog>(clock)), m_comPorts(std::make_unique<ComPortMap>()),
      m_serial(new SerialLibrary(*m_comPorts, this))
{
    ConnectionPage::Environment env;
    env.baseDirectory = baseDirectory;
    env.log = m_log.get();
    env.clock = &clock;
    env.serial = m_serial;
    env.sessions = createSession;
    for (int i = 0; i < kPages; ++i)
        m_pages[size_t(i)] = new ConnectionPage(i + 1, env, this);
    m_player = new LogPlayer(m_log.get(), this);
    m_logPlayer = m_player;
    m_servers = new RelayServers(baseDirectory, *m_log, clock, [this](int n) { return source(n); }, this);
}

Station::~Station()
{
    // Pages and servers go first: they log while closing.
    delete m_servers;
    delete m_player;
    for (ConnectionPage *&page : m_pages) {
        delete page;
        page = nullptr;
    }
}

QString Station::configDirectory() const
{
    return m_baseDirectory + QStringLiteral("/CONFIG");
}

ConnectionPage *Station::page(int number) const
{
    return number >= 1 && number <= kPages ? m_pages[size_t(number - 1)] : nullptr;
}

RelaySource *Station::source(int number) const
{
    if (number == 9)
        return m_logPlayer;
    return page(number);
}

void Station::setLogPlayerSource(RelaySource *source)
{
    m_logPlayer = source;
    for (int n = 1; n <= RelayServers::kCount; ++n)
        m_servers->server(n)->followSource();
}

QStringList Station::start()
{
    QStringList errors;
    socketerrors::Hook::instance().install(m_log.get());

    auto fail = [&](const QString &source, const QString &text) {
        m_log->log(source, text, LogLevel::Error);
        errors << text;
    };

    if (!QFileInfo(configDirectory()).isDir()) {
        // One report for what would otherwise fail on every page.
        fail(QStringLiteral("Station"),
             QStringLiteral("CONFIG directory not found: ") + QDir::toNativeSeparators(configDirectory()));
        m_started = true;
        return errors;
    }

    // Files that hold passwords and were left readable by others (by an
    // older program or a copy) are closed before anything reads them.
    QStringList secretFiles, fixed, unfixed;
    for (int n = 1; n <= kPages; ++n)
        secretFiles << connectionsettings::filePath(m_baseDirectory, n);
    for (int n = 1; n <= RelayServers::kCount; ++n) {
        const QString name = QStringLiteral("Server") + QString::number(n);
        secretFiles << serverfiles::settingsPath(m_baseDirectory, name) << serverfiles::usersPath(m_baseDirectory, name);
    }
    configfiles::restrictAll(secretFiles, &fixed, &unfixed);
    for (const QString &text : fixed)
        m_log->log(QStringLiteral("Station"), text, LogLevel::Status);
    for (const QString &text : unfixed)
        fail(QStringLiteral("Station"), text);

    QString error;
    if (!m_comPorts->load(configDirectory(), &error))
        fail(QStringLiteral("Station"), QStringLiteral("Serial port map: ") + error);

    for (ConnectionPage *page : m_pages) {
        error.clear();
        if (!page->loadSettings(&error))
            fail(page->name(), QStringLiteral("Settings not loaded, page not started: ") + error);
    }

    for (const RelayServers::LoadFailure &f : m_servers->loadAll())
        fail(f.serverName, QStringLiteral("Settings not loaded, server not started: ") + f.error);

    m_started = true;
    return errors;
}

void Station::shutdown()
{
    m_shuttingDown = true;
    for (ConnectionPage *page : m_pages)
        page->requestShutdown();
    m_servers->disableAll();
}

void Station::finishShutdown(int limitMs, std::function<void()> done)
{
    if (m_finishing)
        return;
    m_finishing = true;
    if (!m_shuttingDown)
        shutdown();
    const QDeadlineTimer deadline(limitMs);
    auto *poll = new QTimer(this);
    poll->setInterval(20);
    auto finish = [this, poll, deadline, done = std::move(done)] {
        bool exited = true;
        for (ConnectionPage *page : m_pages)
            exited = exited && (!page->started() || page->record().exitDone);
        if (!exited && !deadline.hasExpired())
            return;
        poll->stop();
        poll->deleteLater();
        for (ConnectionPage *page : m_pages)
            page->closeLog();
        done();
    };
    connect(poll, &QTimer::timeout, this, finish);
    poll->start();
}
