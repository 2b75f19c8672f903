#pragma once
// An HD or KF-71 connection page on a scripted link and a fake clock.
#include "hd_frame_builder.h"
#include "protocols/hd/linesession.h"
#include "support/scriptedpage.h"

class LinePageTest : public ScriptedPageTest {
protected:
    using Phase = LineSession::Phase;

    void SetUp() override { makePage(hardware::Hd); }

    void makePage(int hardwareType, int connectionType = connection::Serial)
    {
        page = ScriptedPageTest::makePage(1, hardwareType, connectionType, link);
        ConnectionSettings s = page->settings();
        s.logDirectory = base.path();
        page->setSettings(s);
    }
    LineSession &session() { return *static_cast<LineSession *>(page->session()); }

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
};
