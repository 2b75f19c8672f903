#pragma once
// A connection page of the ARX type on a scripted link and a fake clock,
// ticked by hand: each tick moves the clock by the page's interval, lets the
// link deliver what is due, and runs one session step.
#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "protocols/arx/arxsession.h"
#include "support/fakeclock.h"
#include "support/scriptedlink.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>

inline QByteArray arxBytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// A reply as the unit ends it before log-in: text, F0 F1.
inline QByteArray marked(const char *text)
{
    return QByteArray(text) + "\xF0\xF1";
}

// A data frame the receive step accepts: sync, descriptor, filler.
inline QByteArray arxFrame(quint8 descriptor = 0xFC, char fill = 0x11, int size = 100)
{
    QByteArray f(size, fill);
    f[0] = char(0xFF);
    f[1] = char(0xFE);
    f[2] = char(0xFD);
    f[3] = char(descriptor);
    return f;
}

class ArxPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(base.isValid());
        log.setEchoToStderr(false);
        ConnectionPage::Environment env;
        env.baseDirectory = base.path();
        env.log = &log;
        env.clock = &clock;
        page = std::make_unique<ConnectionPage>(1, env);
        ConnectionSettings s = page->settings();
        s.hardwareType = hardware::Arx;
        s.password = QStringLiteral("SECRET");
        s.connectionType = connectionType();
        s.phoneNumber = QStringLiteral("5551234");
        page->setSettings(s);
        page->setTestLink(&link);
        if (connectionType() == connection::Network)
            link.setSocketLike(true);
    }

    virtual int connectionType() const { return connection::Serial; }

    void tick()
    {
        clock.advanceMs(page->interval());
        link.advance();
        page->tick();
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            tick();
    }
    // Ticks until the phase is reached; false when it was not within the limit.
    bool tickUntilPhase(int phase, int limit = 400)
    {
        for (int i = 0; i < limit; ++i) {
            if (record().phase == phase)
                return true;
            tick();
        }
        return record().phase == phase;
    }

    ConnectionRecord &record() { return page->record(); }
    ArxSession &session() { return *static_cast<ArxSession *>(page->session()); }

    // Is there a message line of the level ending in exactly this text?
    bool logged(const QString &text, LogLevel level = LogLevel::Error) const
    {
        const QString prefix = level == LogLevel::Error ? QStringLiteral("ERROR (") : QStringLiteral("STATUS(");
        for (const QString &line : log.lines())
            if (line.startsWith(prefix) && line.endsWith(QStringLiteral(">   ") + text))
                return true;
        return false;
    }
    int errorCount() const
    {
        int n = 0;
        for (const QString &line : log.lines())
            n += line.startsWith(QStringLiteral("ERROR ("));
        return n;
    }

    // A unit that logs in and reports `model` with no download.
    void scriptLogin(const char *model = "KS71", const char *prompt = "PASSWORD", const char *level = "SUPERVISOR")
    {
        link.answer(arxBytes({0x01, 0xFE}), marked(prompt));
        const QByteArray password = QByteArray(prompt).startsWith('S') ? QByteArray(1, '\0') + "SECRET\xFE"
                                                                        : QByteArray("SECRET\xFE");
        link.answer(password, marked(level));
        link.answer(arxBytes({0x07, 0xFE}), marked(model));
    }
    // Opens the link and runs detection to polling.
    void connectUnit(const char *model = "KS71", const char *prompt = "PASSWORD")
    {
        scriptLogin(model, prompt);
        page->openLink();
        ASSERT_TRUE(tickUntilPhase(4));
        link.clearRules();
        link.takeSent();
    }

    FakeClock clock{QDateTime(QDate(2026, 12, 6), QTime(14, 5, 9))};
    MessageLog log{clock};
    QTemporaryDir base;
    ScriptedLink link;
    std::unique_ptr<ConnectionPage> page;
};
