#pragma once
// A connection page on a scripted link and a fake clock, ticked by hand: each
// tick moves the clock by the page's interval, lets the link deliver what is
// due, and runs one session step. The family fixtures derive from it.
#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "protocols/sessionfactory.h"
#include "support/fakeclock.h"
#include "support/scriptedlink.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

class ScriptedPageTest : public ::testing::Test {
protected:
    // Page `number` as a fresh station has it, talking to `l`.
    std::unique_ptr<ConnectionPage> freshPage(int number, ScriptedLink &l)
    {
        log.setEchoToStderr(false);
        auto p = std::make_unique<ConnectionPage>(number, ConnectionPage::Environment{base.path(), &log, &clock, nullptr, createSession});
        p->setTestLink(&l);
        return p;
    }
    // Page `number` of `hardwareType` over `connectionType`, talking to `l`.
    std::unique_ptr<ConnectionPage> makePage(int number, int hardwareType, int connectionType, ScriptedLink &l)
    {
        auto p = freshPage(number, l);
        ConnectionSettings s = p->settings();
        s.hardwareType = hardwareType;
        s.connectionType = connectionType;
        s.password = QStringLiteral("SECRET");
        s.phoneNumber = QStringLiteral("5551234");
        p->setSettings(s);
        l.setSocketLike(connectionType == connection::Network);
        return p;
    }
    void tickPage(ConnectionPage &p, ScriptedLink &l)
    {
        clock.advanceMs(p.interval());
        l.advance();
        p.tick();
    }
    void ticks(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            tickPage(*page, link);
    }
    // Ticks while the page stays in `phase`, at most `limit` times.
    void tickWhile(int phase, int limit = 400)
    {
        for (int i = 0; i < limit && record().phase == phase; ++i)
            ticks();
    }
    ConnectionRecord &record() { return page->record(); }
    // Phase 1, steps 0 and 1: the log-in prompt is asked for; the sent bytes are dropped.
    void openToPrompt()
    {
        page->openLink();
        ticks(3);
        ASSERT_EQ(record().detectStep, 2);
        link.takeSent();
    }

    // Message lines of the level that end in exactly this text.
    int count(const QString &text, LogLevel level = LogLevel::Error) const
    {
        static const char *const prefixes[] = {"ERROR (", "STATUS(", "DEBUG <"};
        const QString end = (level == LogLevel::Debug ? QStringLiteral("> ") : QStringLiteral(">   ")) + text;
        int n = 0;
        for (const QString &line : log.lines())
            n += line.startsWith(QLatin1String(prefixes[int(level)])) && line.endsWith(end);
        return n;
    }
    bool logged(const QString &text, LogLevel level = LogLevel::Error) const { return count(text, level) > 0; }

    FakeClock clock;
    MessageLog log{clock};
    QTemporaryDir base;
    ScriptedLink link;
    std::unique_ptr<ConnectionPage> page;
};
