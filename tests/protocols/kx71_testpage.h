#pragma once
// A KX-71 page on a scripted link and a fake clock, ticked by hand.
#include "protocols/kx71/kx71session.h"
#include "support/bytes.h"
#include "support/scriptedpage.h"

inline QByteArray kxMarked(const char *text) { return QByteArray(text) + "\xF0\xF1"; }

// A 356-byte frame: sync, a pattern from seed (never FF, so no sync inside),
// byte 49 = mode << 4 | kind, byte 353 the sum of bytes 0-352 (one more when bad).
inline QByteArray kxFrame(int kind, int mode, int seed = 0, bool goodSum = true)
{
    QByteArray f = bytes({0xFF, 0xFE, 0xFD, 0xFC});
    for (int i = 4; i < 356; ++i)
        f += char((i * 7 + seed) & 0x7F);
    f[49] = char(mode << 4 | kind);
    unsigned sum = goodSum ? 0 : 1;
    for (int i = 0; i < 353; ++i)
        sum += quint8(f[i]);
    f[353] = char(sum);
    return f;
}

class Kx71PageTest : public ScriptedPageTest {
protected:
    void SetUp() override { page = makePage(1, link); }
    virtual int connectionType() const { return connection::Serial; }

    std::unique_ptr<ConnectionPage> makePage(int number, ScriptedLink &l)
    {
        return ScriptedPageTest::makePage(number, hardware::Kx71, connectionType(), l);
    }
    void ticks(int n = 1, ConnectionPage *p = nullptr, ScriptedLink *l = nullptr)
    {
        for (int i = 0; i < n; ++i)
            tickPage(p ? *p : *page, l ? *l : link);
    }
    // Opens the link and ticks until the page runs (or 30 ticks have passed).
    void connectUnit(const QByteArray &version = kxMarked("KX HC11 01.23    DSP  04.56"), ConnectionPage *p = nullptr,
                     ScriptedLink *l = nullptr)
    {
        ScriptedLink &sl = l ? *l : link;
        ConnectionPage &cp = p ? *p : *page;
        sl.answer("T\r", kxMarked("KX-71"));
        sl.answer("U\r", version);
        cp.openLink();
        for (int i = 0; i < 30 && cp.record().phase != 4; ++i)
            ticks(1, &cp, &sl);
        ASSERT_EQ(cp.record().phase, 4);
        sl.clearRules();
        sl.takeSent();
    }
    // Bytes from the analyzer, taken as the page's link type takes them.
    void deliver(const QByteArray &b)
    {
        link.queue(b, 0);
        if (connectionType() == connection::Network)
            session().onSocketRead();
        else
            ticks();
    }

    Kx71Session &session() { return *static_cast<Kx71Session *>(page->session()); }
    bool logged(const QString &text) const { return !log.lines().filter(QStringLiteral(">   ") + text).isEmpty(); }
};
