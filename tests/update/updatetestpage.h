#pragma once
// A page on a scripted link and a fake clock whose update machine is ticked
// by hand, as the session does in its update phases.
#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "support/fakeclock.h"
#include "support/scriptedlink.h"
#include "update/updatemachine.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

class UpdatePageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        log.setEchoToStderr(false);
        QDir(base.path()).mkpath(QStringLiteral("CONFIG"));
        page = std::make_unique<ConnectionPage>(1, ConnectionPage::Environment{base.path(), &log, &clock, nullptr});
        ConnectionSettings s = page->settings();
        s.hardwareType = hardware::Hd;
        s.connectionType = connection::Serial;
        page->setSettings(s);
        page->setTestLink(&link);
        page->openLink();
        page->setInterval(125);
        QObject::connect(&machine(), &UpdateMachine::feedbackChanged, [this] {
            if (!machine().statusText().isEmpty() && (statuses.isEmpty() || statuses.last() != machine().statusText()))
                statuses << machine().statusText();
        });
        QObject::connect(&machine(), &UpdateMachine::finished, [this](bool ok, const QString &box) {
            results << ok;
            errorBox = box;
        });
    }

    UpdateMachine &machine() { return page->updateMachine(); }
    ConnectionRecord &record() { return page->record(); }

    // A download file of `lines` data lines (line 1 `count`, two version lines).
    static downloadfile::File file(int count, const QList<QByteArray> &lines)
    {
        QByteArray text = QByteArray::number(count) + "\r\nV01.00\r\nV01.00\r\n";
        for (const QByteArray &l : lines)
            text += l + "\r\n";
        auto b = std::make_unique<QBuffer>();
        b->setData(text);
        b->open(QIODevice::ReadOnly);
        downloadfile::File f(std::move(b), QStringLiteral("/st/DLD/T.DLD"));
        downloadfile::Head head;
        readHead(f, 2, &head);
        return f;
    }
    void start(UpdateMachine::Kind kind, const QList<QByteArray> &lines, int count = -1,
               std::array<int, 3> serial = {})
    {
        machine().start(kind, file(count < 0 ? int(lines.size()) : count, lines),
                        count < 0 ? int(lines.size()) : count, serial);
    }

    void tick()
    {
        clock.advanceMs(page->interval());
        link.advance();
        const int phase = record().phase;
        if (phase == UpdateMachine::kEepromPhase || phase == UpdateMachine::kNetworkPhase)
            machine().tick();
        if (steps.isEmpty() || steps.last() != machine().step())
            steps << machine().step();
    }
    // Ticks while the machine runs, at most `limit` times.
    void run(int limit = 20000)
    {
        for (int i = 0; i < limit && machine().running(); ++i)
            tick();
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            tick();
    }
    // Every data line answered "GC".
    void acceptLines(const QList<QByteArray> &lines)
    {
        for (const QByteArray &l : lines)
            link.answer(l + "\r", "GC\r");
    }
    int count(const QByteArray &sent) const { return int(link.sends().count(sent)); }
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
    QList<int> steps;
    QStringList statuses;
    QList<bool> results;
    QString errorBox;
};
