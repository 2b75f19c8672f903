#pragma once
// A SessionHost without a connection page: a scripted link behind the line
// readers, a record, settings and a timer interval that are plain fields,
// and a record of what a session asked of its page (messages, rates,
// saves, releases, hand-overs). Sessions are tested on it alone.
#include "connection/connectionsettings.h"
#include "connection/session.h"
#include "connection/sessionhost.h"
#include "link/forwardlink.h"
#include "support/fakeclock.h"
#include "support/scriptedlink.h"

#include <QStringList>

#include <functional>
#include <vector>

class ScriptedHost : public SessionHost {
public:
    // What the page runs when a session run in place of the unit's ends.
    using UnitFactory = std::function<std::unique_ptr<Session>(SessionHost &)>;

    ScriptedHost(ScriptedLink &link, UnitFactory unit) : m_makeUnit(std::move(unit))
    {
        m_settings = ConnectionSettings::defaults(1, QString());
        attach(link);
        m_session = m_makeUnit(*this);
    }

    // One page tick: the clock moves by the interval, the link delivers, the session steps.
    void tick()
    {
        m_retired.clear();
        fakeClock.advanceMs(m_interval);
        if (m_scripted)
            m_scripted->advance();
        m_session->tick();
    }
    Session &session() { return *m_session; }

    // --- SessionHost ------------------------------------------------------------
    ByteLink &link() override { return m_link; }
    LineReader &lines() override { return m_lines; }
    bool isSerial() const override { return m_settings.connectionType != connection::Network; }
    bool serialDeviceMissing() const override { return false; }
    void openLink() override
    {
        if (m_scripted)
            attach(*m_scripted);
        m_record.portOpen = true;
        m_record.phase = 1;
        m_session->linkOpening();
    }
    void closeLink() override
    {
        releaseLink();
        m_record.state = state::Disconnected;
        m_record.phase = 0;
        m_record.portOpen = false;
    }
    void releaseLink() override
    {
        ++releases;
        m_link.setTarget(nullptr);
        m_lines.detach();
    }
    void reconnect() override
    {
        if (m_record.portOpen)
            closeLink();
        openLink();
    }
    int setSerialBaud(int code) override
    {
        bauds << code;
        return 0;
    }
    int setModemDtr(bool) override { return 0; }
    int interval() const override { return m_interval; }
    void setInterval(int ms) override { m_interval = ms; }
    ConnectionRecord &record() override { return m_record; }
    ConnectionSettings &settings() override { return m_settings; }
    bool saveSettings(QString *) override
    {
        saved << m_settings;
        return true;
    }
    bool started() const override { return true; }
    QString baseDirectory() const override { return QString(); }
    const Clock &clock() const override { return fakeClock; }
    void logMessage(const QString &text, int level) override { messages << QString::number(level) + text; }
    RelayStore &store() override { return m_store; }
    void logArxRecord(const QByteArray &, const QDateTime &) override {}
    void logHdLine(std::optional<qint32>) override {}
    void showConnection() override {}
    void showHardware() override {}
    void setUpdateEnabled(bool on) override { updateEnabled = on; }
    void requestUpdateDialog() override {}
    void runSession(std::unique_ptr<Session> session) override
    {
        m_retired.push_back(std::move(m_session));
        m_session = std::move(session);
    }
    Session &endSession(bool reconnect) override
    {
        ++handBacks;
        m_retired.push_back(std::move(m_session));
        m_session = m_makeUnit(*this);
        if (reconnect)
            m_session->connectButton();
        return *m_session;
    }

    FakeClock fakeClock;
    QStringList messages; // level digit, then the text
    QList<int> bauds;
    QList<ConnectionSettings> saved;
    int releases = 0;
    int handBacks = 0;
    bool updateEnabled = true;

private:
    void attach(ScriptedLink &link)
    {
        m_scripted = &link;
        m_link.setTarget(&link);
        m_lines.attach(&link, 100);
    }

    UnitFactory m_makeUnit;
    ScriptedLink *m_scripted = nullptr;
    ForwardLink m_link;
    LineReader m_lines;
    int m_interval = 125;
    ConnectionRecord m_record;
    ConnectionSettings m_settings;
    RelayStore m_store;
    std::unique_ptr<Session> m_session;
    std::vector<std::unique_ptr<Session>> m_retired;
};
