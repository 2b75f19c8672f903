#pragma once
// An ARX connection page on a scripted link and a fake clock.
#include "support/bytes.h"
#include "protocols/arx/arxsession.h"
#include "support/scriptedpage.h"

#include <QRegularExpression>


// A reply as the unit ends it: text, F0 F1.
inline QByteArray marked(const char *text) { return QByteArray(text) + "\xF0\xF1"; }

// A frame the receive step accepts: sync, descriptor, filler.
inline QByteArray arxFrame(quint8 descriptor = 0xFC, char fill = 0x11)
{
    QByteArray f(100, fill);
    f.replace(0, 4, bytes({0xFF, 0xFE, 0xFD, descriptor}));
    return f;
}

class ArxPageTest : public ScriptedPageTest {
protected:
    void SetUp() override { page = makePage(1, hardware::Arx, connectionType(), link); }
    virtual int connectionType() const { return connection::Serial; }

    void tick() { ticks(); }
    ArxSession &session() { return *static_cast<ArxSession *>(page->session()); }
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
};
