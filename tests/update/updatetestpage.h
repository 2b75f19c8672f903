#pragma once
// An HD page on a scripted link and a fake clock whose session runs the
// update machine in its update phases; the machine's steps, statuses and
// results are recorded as they come.
#include "support/scriptedpage.h"
#include "update/updatemachine.h"

#include <QBuffer>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

class UpdatePageTest : public ScriptedPageTest {
protected:
    void SetUp() override
    {
        QDir(base.path()).mkpath(QStringLiteral("CONFIG"));
        page = makePage(1, hardware::Hd, connection::Serial, link);
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

    UpdateMachine &machine() { return UpdateMachine::of(*page); }

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
        const int n = count < 0 ? int(lines.size()) : count;
        machine().start(kind, file(n, lines), n, serial);
    }

    void tick()
    {
        tickPage(*page, link);
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

    QList<int> steps;
    QStringList statuses;
    QList<bool> results;
    QString errorBox;
};
