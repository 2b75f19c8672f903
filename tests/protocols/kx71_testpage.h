#pragma once
// A KX-71 page on a scripted link and a fake clock, ticked by hand.
#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "protocols/kx71/kx71session.h"
#include "support/bytes.h"
#include "support/fakeclock.h"
#include "support/scriptedlink.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

inline QByteArray kxMarked(const char *text) { return QByteArray(text) + "\xF0\xF1"; }

// A 356-byte frame: sync, a pattern from seed, byte 49 = mode << 4 | kind,
// byte 353 the sum of bytes 0-352 (one more when bad).
inline QByteArray kxFrame(int kind, int mode, int seed = 0, bool goodSum = true)
{
    QByteArray f(356, '\0');
    f.replace(0, 4, bytes({0xFF, 0xFE, 0xFD, 0xFC}));
    for (int i = 4; i < 353; ++i)
        f[i] = char((i * 7 + seed) & 0x7F); // never FF, so no false sync inside
    f[49] = char(mode << 4 | kind);
    unsigned sum = 0;
    for (int i = 0; i < 353; ++i)
        sum += quint8(f[i]);
    f[353] = char(sum + (goodSum ? 0 : 1));
    return f;
}

class Kx71PageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log.setEchoToStderr(false);
        page = makePage(1, link);
    }
    virtual int connectionType() const { return connection::Serial; }

    std::unique_ptr<ConnectionPage> makePage(int number, ScriptedLink &l)
    {
        auto p = std::make_unique<ConnectionPage>(number, ConnectionPage::Environment{base.path(), &log, &clock, nullptr});
        ConnectionSettings s = p->settings();
        s.hardwareType = hardware::Kx71;
        s.connectionType = connectionType();
        p->setSettings(s);
        p->setTestLink(&l);
        l.setSocketLike(connectionType() == connection::Network);
        return p;
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
    // Opens the link and runs detection and programming to the running phase.
    void connectUnit(const char *version = "KX HC11 01.23    DSP  04.56")
    {
        link.answer("T\r", kxMarked("KX-71"));
        link.answer("U\r", kxMarked(version));
        page->openLink();
        for (int i = 0; i < 30 && record().phase != 4; ++i)
            tick();
        ASSERT_EQ(record().phase, 4);
        link.clearRules();
        link.takeSent();
    }
    // Bytes from the analyzer, taken as the page's link type takes them.
    void deliver(const QByteArray &b)
    {
        link.queue(b, 0);
        if (connectionType() == connection::Network)
            session().onSocketRead();
        else
            tick();
    }
    void writeFile(const QString &name, const QByteArray &text)
    {
        QDir(base.path()).mkpath(QStringLiteral("DLD"));
        QFile f(base.path() + QStringLiteral("/DLD/") + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

    ConnectionRecord &record() { return page->record(); }
    Kx71Session &session() { return *static_cast<Kx71Session *>(page->session()); }
    bool logged(const QString &text) const
    {
        for (const QString &line : log.lines())
            if (line.endsWith(QStringLiteral(">   ") + text))
                return true;
        return false;
    }

    FakeClock clock;
    MessageLog log{clock};
    QTemporaryDir base;
    ScriptedLink link;
    std::unique_ptr<ConnectionPage> page;
};
