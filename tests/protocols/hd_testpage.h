#pragma once
// An HD or KF-71 connection page on a scripted link and a fake clock, ticked
// by hand: each tick moves the clock by the page's interval, lets the link
// deliver what is due, and runs one session step.
#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "protocols/hd/linesession.h"
#include "support/bytes.h"
#include "support/fakeclock.h"
#include "support/scriptedlink.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

// A 1501-byte frame: marker, page number at 1200, the rest `fill`.
inline QByteArray hdFrame(quint8 page = 0x55, char fill = 0x11)
{
    QByteArray f(1501, fill);
    f.replace(0, 3, bytes({0xFF, 0xFE, 0xFD}));
    f[1200] = char(page);
    return f;
}

class LinePageTest : public ::testing::Test {
protected:
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
    void tickWhile(int phase, int limit = 400)
    {
        for (int i = 0; i < limit && record().phase == phase; ++i)
            tick();
    }

    ConnectionRecord &record() { return page->record(); }
    LineSession &session() { return *static_cast<LineSession *>(page->session()); }

    // A message line of the level ending in exactly this text.
    bool logged(const QString &text, LogLevel level = LogLevel::Error) const
    {
        return count(text, level) > 0;
    }
    int count(const QString &text, LogLevel level = LogLevel::Error) const
    {
        int n = 0;
        for (const QString &line : log.lines()) {
            if (level == LogLevel::Debug)
                n += line == QStringLiteral("DEBUG <Connect1> ") + text;
            else
                n += line.startsWith(QLatin1String(level == LogLevel::Error ? "ERROR (" : "STATUS("))
                    && line.endsWith(QStringLiteral(">   ") + text);
        }
        return n;
    }
    int errorCount() const { return int(log.lines().filter(QRegularExpression(QStringLiteral("^ERROR \\("))).size()); }

    // A far end that logs in and identifies with `ident`.
    void scriptLogin(const QByteArray &ident, const QByteArray &prompt = "PASSWORD\r")
    {
        link.answer("SC\r", prompt);
        link.answer(prompt.startsWith('S') ? "SPSECRET\r" : "SECRET\r", "SUPERVISOR\r");
        link.answer("UI\r", ident + '\r');
    }
    // Opens the link and runs detection to polling; the rules are dropped.
    void connectUnit(const QByteArray &ident = "KH-71 LCD(1) SW(01.23 04.56) SN(123456) LAN(6.5.0.0)",
                     const QByteArray &prompt = "PASSWORD\r")
    {
        scriptLogin(ident, prompt);
        page->openLink();
        for (int i = 0; i < 200 && record().phase != LineSession::Polling; ++i)
            tick();
        ASSERT_EQ(record().phase, LineSession::Polling);
        link.clearRules();
        link.takeSent();
    }

    FakeClock clock;
    MessageLog log{clock};
    QTemporaryDir base;
    ScriptedLink link;
    std::unique_ptr<ConnectionPage> page;
};
