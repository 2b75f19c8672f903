#pragma once
// An HD or KF-71 connection page on a scripted link and a fake clock, ticked
// by hand: each tick moves the clock by the page's interval, lets the link
// deliver what is due, and runs one session step.
#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "hd_frame_builder.h"
#include "protocols/hd/linesession.h"
#include "support/fakeclock.h"
#include "support/scriptedlink.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

class LinePageTest : public ::testing::Test {
protected:
    using Phase = LineSession::Phase;

    void SetUp() override { makePage(hardware::Hd); }

    void makePage(int hardwareType, int connectionType = connection::Serial)
    {
        log.setEchoToStderr(false);
        page = std::make_unique<ConnectionPage>(1, ConnectionPage::Environment{base.path(), &log, &clock, nullptr});
        ConnectionSettings s = page->settings();
        s.hardwareType = hardwareType;
        s.password = QStringLiteral("SECRET");
        s.connectionType = connectionType;
        s.logDirectory = base.path();
        page->setSettings(s);
        page->setTestLink(&link);
        link.setSocketLike(connectionType == connection::Network);
    }

    void ticks(int n = 1)
    {
        for (int i = 0; i < n; ++i) {
            clock.advanceMs(page->interval());
            link.advance();
            page->tick();
        }
    }
    void tickWhile(int phase)
    {
        for (int i = 0; i < 400 && record().phase == phase; ++i)
            ticks();
    }

    ConnectionRecord &record() { return page->record(); }
    LineSession &session() { return *static_cast<LineSession *>(page->session()); }

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

    // Opens the link to a far end that logs in and identifies with `ident`,
    // and runs detection to polling; the rules and the sent bytes are dropped.
    void connectUnit(const QByteArray &ident = "KH-71 LCD(1) SW(01.23 04.56) SN(123456) LAN(6.5.0.0)",
                     const QByteArray &prompt = "PASSWORD\r")
    {
        link.answer("SC\r", prompt);
        link.answer(prompt.startsWith('S') ? "SPSECRET\r" : "SECRET\r", "SUPERVISOR\r");
        link.answer("UI\r", ident + '\r');
        page->openLink();
        tickWhile(Phase::WaitLink);
        tickWhile(Phase::Detect);
        ASSERT_EQ(record().phase, Phase::Polling);
        link.clearRules();
        link.takeSent();
    }

    FakeClock clock;
    MessageLog log{clock};
    QTemporaryDir base;
    ScriptedLink link;
    std::unique_ptr<ConnectionPage> page;
};
