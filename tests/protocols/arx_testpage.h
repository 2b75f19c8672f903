#pragma once
// An ARX connection page on a scripted link and a fake clock, ticked by hand:
// each tick moves the clock by the page's interval, lets the link deliver
// what is due, and runs one session step.
#include "support/bytes.h"
#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "protocols/arx/arxsession.h"
#include "support/fakeclock.h"
#include "support/scriptedlink.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>


// A reply as the unit ends it: text, F0 F1.
inline QByteArray marked(const char *text) { return QByteArray(text) + "\xF0\xF1"; }

// A frame the receive step accepts: sync, descriptor, filler.
inline QByteArray arxFrame(quint8 descriptor = 0xFC, char fill = 0x11)
{
    QByteArray f(100, fill);
    f.replace(0, 4, bytes({0xFF, 0xFE, 0xFD, descriptor}));
    return f;
}

class ArxPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log.setEchoToStderr(false);
        page = std::make_unique<ConnectionPage>(1, ConnectionPage::Environment{base.path(), &log, &clock, nullptr});
        ConnectionSettings s = page->settings();
        s.hardwareType = hardware::Arx;
        s.password = QStringLiteral("SECRET");
        s.connectionType = connectionType();
        s.phoneNumber = QStringLiteral("5551234");
        page->setSettings(s);
        page->setTestLink(&link);
        link.setSocketLike(connectionType() == connection::Network);
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
    // Ticks while the page stays in `phase`, at most `limit` times.
    void tickWhile(int phase, int limit = 400)
    {
        for (int i = 0; i < limit && record().phase == phase; ++i)
            tick();
    }

    ConnectionRecord &record() { return page->record(); }
    ArxSession &session() { return *static_cast<ArxSession *>(page->session()); }

    // A message line of the level ending in exactly this text.
    bool logged(const QString &text, LogLevel level = LogLevel::Error) const
    {
        const QString prefix = level == LogLevel::Error ? QStringLiteral("ERROR (") : QStringLiteral("STATUS(");
        for (const QString &line : log.lines())
            if (line.startsWith(prefix) && line.endsWith(QStringLiteral(">   ") + text))
                return true;
        return false;
    }
    int errorCount() const { return int(log.lines().filter(QRegularExpression(QStringLiteral("^ERROR \\("))).size()); }

    // A far end that logs in and reports `model`.
    void scriptLogin(const char *model = "KS71", const char *prompt = "PASSWORD")
    {
        const bool relay = prompt[0] == 'S';
        link.answer(bytes({0x01, 0xFE}), marked(prompt));
        link.answer((relay ? QByteArray(1, '\0') : QByteArray()) + "SECRET\xFE", marked("SUPERVISOR"));
        link.answer(bytes({0x07, 0xFE}), marked(model));
    }
    // Opens the link and runs detection to polling; the log-in rules are dropped.
    void connectUnit(const char *model = "KS71", const char *prompt = "PASSWORD")
    {
        scriptLogin(model, prompt);
        page->openLink();
        for (int i = 0; i < 100 && record().phase != 4; ++i)
            tick();
        ASSERT_EQ(record().phase, 4);
        link.clearRules();
        link.takeSent();
    }

    FakeClock clock;
    MessageLog log{clock};
    QTemporaryDir base;
    ScriptedLink link;
    std::unique_ptr<ConnectionPage> page;
};
