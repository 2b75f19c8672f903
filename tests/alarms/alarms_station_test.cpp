// Alarms of a running station with a simulated KH-71: a unit that stops
// and resumes (mail to an SMTP sink and a signed webhook for the raise and
// the clear), the unit's own alarm table changing, a full log disk through
// the disk probe, and a mail server that is away or refuses while the
// station goes on filing frames.
#include "alarms/alarmmonitor.h"
#include "alarms/alarmnotifier.h"
#include "report/stationreport.h"
#include "sinks.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>

#include <csignal>

using namespace stationtest;
using alarmtest::HttpSink;
using alarmtest::SmtpSink;

namespace {

class AlarmStation : public UnitFixture {
protected:
    void startStation(const QStringList &simArgs, const QStringList &alarmLines, bool kf71 = false)
    {
        ASSERT_TRUE(sim.start(QStringList{"--tcp", "0", "--unit", kf71 ? "kf71" : "kh71", "--rate", "8", "--trace", trace} + simArgs));
        PageFile page = networkPage(sim.tcpPort());
        page.hardwareType = kf71 ? 3 : 2;
        ASSERT_TRUE(dir.writePage(1, page));
        QFile cfg(dir.filePath(QStringLiteral("CONFIG/Alarms.CFG")));
        ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
        cfg.write(alarmLines.join(QLatin1Char('\n')).toUtf8() + '\n');
        cfg.close();
        cfg.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ASSERT_NO_FATAL_FAILURE(startRun(run, dir.path(), kf71 ? QString() : QStringLiteral(" HD Succesful Connection"), 15000));
        report = std::make_unique<report::StationReport>(run->station());
        monitor = std::make_unique<alarms::AlarmMonitor>(*report, SystemClock::instance());
        if (diskProbe)
            monitor->setDiskProbe(diskProbe);
        monitor->loadSettings();
        monitor->start();
        ASSERT_TRUE(waitFor([&] { return report->page(1).counters.framesFiled > 8; }, 15000)) << run->messages();
    }
    void TearDown() override
    {
        if (sim.running())
            ::kill(pid_t(sim.process().processId()), SIGCONT);
        monitor.reset();
        report.reset();
        run.reset();
        UnitFixture::TearDown();
    }
    void pause(bool stop) { ::kill(pid_t(sim.process().processId()), stop ? SIGSTOP : SIGCONT); }
    int lines(const QString &text) const
    {
        int n = 0;
        for (const QString &l : run->station().messageLog().lines())
            n += l.contains(text) ? 1 : 0;
        return n;
    }
    QStringList mailLines(quint16 port) const
    {
        return {QStringLiteral("smtp_host = 127.0.0.1"), QStringLiteral("smtp_port = %1").arg(port),
                QStringLiteral("mail_from = station@example.org"), QStringLiteral("mail_to = engineer@example.org"),
                QStringLiteral("batch_s = 0")};
    }

    std::unique_ptr<StationRun> run;
    std::unique_ptr<report::StationReport> report;
    std::unique_ptr<alarms::AlarmMonitor> monitor;
    alarms::AlarmMonitor::DiskProbe diskProbe;
};

} // namespace

TEST_F(AlarmStation, UnitStopsAndResumes_MailAndWebhookForRaiseAndClear)
{
    SmtpSink smtp;
    if (!smtp.start())
        GTEST_SKIP() << "python3-aiosmtpd not installed";
    HttpSink hook;
    ASSERT_NO_FATAL_FAILURE(startStation({}, mailLines(smtp.port) + QStringList{
        QStringLiteral("unit_silent_raise_s = 2"), QStringLiteral("unit_silent_clear_s = 1"),
        QStringLiteral("webhook_url = ") + hook.url(), QStringLiteral("webhook_secret = k3y")}));

    pause(true);
    ASSERT_TRUE(waitFor([&] { return smtp.count("Unit silent on page 1") == 1; }, 30000)) << run->messages();
    EXPECT_EQ(lines(QStringLiteral("ERROR")), lines(QStringLiteral("ALARM: Unit silent on page 1")));
    EXPECT_EQ(lines(QStringLiteral("ALARM: Unit silent on page 1 (Test): no frame for")), 1) << run->messages();
    ASSERT_EQ(report->alarms(true).size(), 1);
    EXPECT_EQ(report->alarms(true)[0].name, QStringLiteral("unit_silent"));
    ASSERT_TRUE(waitFor([&] { return hook.requests.size() == 1; }, 10000));
    EXPECT_EQ(hook.requests[0].header("X-Tolva-Signature"),
              "sha256=" + QMessageAuthenticationCode::hash(hook.requests[0].body, "k3y", QCryptographicHash::Sha256).toHex());

    pause(false);
    ASSERT_TRUE(waitFor([&] { return smtp.count("sends frames again") == 1; }, 30000)) << run->messages();
    EXPECT_EQ(lines(QStringLiteral("All clear: Unit on page 1 (Test) sends frames again")), 1) << run->messages();
    ASSERT_TRUE(waitFor([&] { return hook.requests.size() == 2; }, 10000));
    const QJsonObject cleared = QJsonDocument::fromJson(hook.requests[1].body).object();
    EXPECT_EQ(cleared["events"].toArray()[0].toObject()["event"].toString(), QStringLiteral("cleared"));
    EXPECT_TRUE(report->alarms(true).isEmpty());
    EXPECT_EQ(smtp.messages().size(), 2);

    QFile history(dir.filePath(QStringLiteral("LOG/alarms.jsonl")));
    ASSERT_TRUE(history.open(QIODevice::ReadOnly));
    const QList<QByteArray> entries = history.readAll().trimmed().split('\n');
    ASSERT_EQ(entries.size(), 2);
    EXPECT_TRUE(entries[0].contains("\"event\":\"raised\""));
    EXPECT_TRUE(entries[1].contains("\"event\":\"cleared\""));
}

TEST_F(AlarmStation, Kh71AlarmTableChangeAndLowDisk)
{
    // Frames 40 to 120 show the first alarm entry changed; the disk probe
    // says the log disk has 1 % left.
    diskProbe = [](const QString &d) { return alarms::DiskFacts{d, 1LL << 30, 100LL << 30}; };
    ASSERT_NO_FATAL_FAILURE(startStation({"--alarm-change", "40:120"}, {}));
    auto active = [&](const char *name) {
        for (const report::AlarmRecord &a : report->alarms(true))
            if (a.name == QLatin1String(name))
                return a;
        return report::AlarmRecord();
    };
    ASSERT_TRUE(waitFor([&] { return !active("disk_low").name.isEmpty(); }, 10000)) << run->messages();
    EXPECT_EQ(lines(QStringLiteral("ALARM: Log disk low: 1024 MB (1 %) free in ")), 1) << run->messages();

    ASSERT_TRUE(waitFor([&] { return !active("unit_alarms").name.isEmpty(); }, 30000)) << run->messages();
    const report::AlarmRecord a = active("unit_alarms");
    ASSERT_EQ(a.details.size(), 1) << a.details.join('|').toStdString();
    EXPECT_TRUE(a.details[0].endsWith(QStringLiteral(": 0 -> 1"))) << a.details[0].toStdString();
    EXPECT_EQ(a.page, 1);
    EXPECT_EQ(lines(QStringLiteral("ALARM: Unit alarm table changed on page 1 (Test): ") + a.details[0]), 1) << run->messages();
    ASSERT_TRUE(waitFor([&] { return active("unit_alarms").name.isEmpty(); }, 30000)) << run->messages();
    EXPECT_EQ(lines(QStringLiteral("All clear: Unit alarm table on page 1 (Test) is back to its first state")), 1);

    // Switching the condition off in the file ends its alarm without a restart.
    QFile cfg(dir.filePath(QStringLiteral("CONFIG/Alarms.CFG")));
    ASSERT_TRUE(cfg.open(QIODevice::WriteOnly));
    cfg.write("disk_low_enabled = 0\n");
    cfg.close();
    ASSERT_TRUE(waitFor([&] { return active("disk_low").name.isEmpty(); }, 10000)) << run->messages();
    EXPECT_EQ(lines(QStringLiteral("Alarm settings read again from ")), 1);
    EXPECT_EQ(lines(QStringLiteral(": no longer watched")), 1) << run->messages();
}

TEST_F(AlarmStation, Kf71AlarmTableChangeIsNamedFromItsOwnTable)
{
    // The KF-71 keeps its table at other offsets and names its alarms from
    // a table of its own; the change is found and cleared all the same.
    ASSERT_NO_FATAL_FAILURE(startStation({"--alarm-change", "40:120"}, {}, true));
    auto changed = [&] {
        for (const report::AlarmRecord &a : report->alarms(true))
            if (a.name == QLatin1String("unit_alarms"))
                return a.details;
        return QStringList();
    };
    ASSERT_TRUE(waitFor([&] { return !changed().isEmpty(); }, 30000)) << run->messages();
    ASSERT_EQ(changed().size(), 1);
    EXPECT_TRUE(changed()[0].endsWith(QStringLiteral(": 0 -> 1"))) << changed()[0].toStdString();
    EXPECT_FALSE(changed()[0].startsWith(QStringLiteral("group "))) << changed()[0].toStdString();
    ASSERT_TRUE(waitFor([&] { return changed().isEmpty(); }, 30000)) << run->messages();
    EXPECT_EQ(lines(QStringLiteral("All clear: Unit alarm table on page 1 (Test) is back to its first state")), 1);
}

TEST_F(AlarmStation, MailServerAwayOrRefusing_RetriesThenOneErrorWhileFramesGoOn)
{
    for (const bool refuse : {false, true}) {
        SmtpSink smtp;
        quint16 port = freePort();
        if (refuse) {
            if (!smtp.start(true))
                GTEST_SKIP() << "python3-aiosmtpd not installed";
            port = smtp.port;
        }
        ASSERT_NO_FATAL_FAILURE(startStation({}, mailLines(port) + QStringList{
            QStringLiteral("unit_silent_raise_s = 1"), QStringLiteral("unit_silent_clear_s = 3600"),
            QStringLiteral("retry_first_s = 1"), QStringLiteral("give_up_s = 3")}));
        pause(true);
        ASSERT_TRUE(waitFor([&] { return !report->alarms(true).isEmpty(); }, 20000)) << run->messages();
        pause(false);
        const quint64 before = report->page(1).counters.framesFiled;
        ASSERT_TRUE(waitFor([&] { return lines(QStringLiteral("not delivered")) == 1; }, 30000)) << run->messages();
        // The station filed frames all the while the mail was being retried.
        EXPECT_GT(report->page(1).counters.framesFiled, before + 8) << refuse;
        EXPECT_EQ(lines(QStringLiteral("Alarm mail to engineer@example.org not delivered: ")), 1) << run->messages();
        EXPECT_EQ(monitor->notifier().queued(), 0);
        monitor.reset();
        report.reset();
        run.reset();
        sim.stop();
    }
}

TEST_F(AlarmStation, DemoKf71GoesSilentForAWhile)
{
    // As the demo's KF-71: its data pauses once (here 2 s in, for 4 s).
    ASSERT_NO_FATAL_FAILURE(startStation({"--pause", "2:4"},
                                         {QStringLiteral("unit_silent_raise_s = 1"), QStringLiteral("unit_silent_clear_s = 1")}, true));
    ASSERT_TRUE(run->waitForLine(QStringLiteral("ALARM: Unit silent on page 1 (Test)"), 20000)) << run->messages();
    ASSERT_TRUE(run->waitForLine(QStringLiteral("All clear: Unit on page 1 (Test) sends frames again"), 20000)) << run->messages();
    EXPECT_EQ(lines(QStringLiteral("ALARM")), 1) << run->messages();
}
