// Simulated KH-71 units on a pseudo-terminal given new firmware end to end:
// the station's update machine against the unit's loader (the unit's waits
// shortened), the lines the loader received in order, and the new version
// after the page reconnected. The KH-71 without LCD goes through the HD
// machine: serial-number record, 115200 baud after "DONE" (the unit takes
// nothing at another rate from then on) and its display reported afterwards.
#include "station_support.h"

#include "protocols/hd/linesession.h"
#include "protocols/hd/lineupdate.h"
#include "update/updatechecks.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace stationtest;

namespace {

const QString kConnected = QStringLiteral(" HD Succesful Connection");

// The rate the station set on its serial port (both ends of a pty share it).
speed_t lineRate(const QString &path)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    struct termios t {};
    const bool ok = fd >= 0 && ::tcgetattr(fd, &t) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok ? cfgetospeed(&t) : B0;
}

class UpdateStation : public UnitFixture {};

TEST_F(UpdateStation, Kh71TakesNewFirmwareAndReportsItsVersion)
{
    // The S0 header "04.05,04.06" names the version the unit reports once it runs the program.
    const QByteArray program = "S00E000030342E30352C30342E3036D6 S107100001020304DE S9030000FC";
    const struct {
        const char *name;
        QStringList unit;
        updatecheck::Dialog dialog;
        QByteArray received, sent; // by the loader, in order
        QByteArray serial;
        int baudIndex; // after the update
    } cases[] = {
        {"with LCD", {}, updatecheck::Dialog::Kh71, "PG0003 " + program + " EF",
         "READY GC GC GC ERASE PASS FLASH PASS VERIFY PASS MICRO PASS MICRO PASS SUCCESS", "710123", 0},
        // Serial digits 4, 5, 6 in their record after the file.
        {"without LCD", {"--no-lcd", "--software", "V03.10"}, updatecheck::Dialog::Hd,
         "PG " + program + " S20800200900040506BF EF",
         "READY GC GC GC GC FLASH0 FLASH1 FLASH2 FLASH3 FLASH4 FLASH5 FLASH6 FLASH7 DONE", "710456", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(trace);
        const QString link = dir.filePath(QStringLiteral("com1"));
        // The unit's work is spaced wider than the station's tick, whose
        // phase changes clear what was received.
        ASSERT_TRUE(sim.start(QStringList{"--pty", "--link", link, "--unit", "kh71", "--trace", trace,
                                          "--loader-step-ms", "500", "--loader-progress", "1", "--loader-reset-ms",
                                          "300"}
                              + c.unit));
        ASSERT_TRUE(dir.writeSerialPorts({link}));
        PageFile page;
        page.hardwareType = 2;
        page.baudIndex = 0; // 57600
        ASSERT_TRUE(dir.writePage(1, page));
        QByteArray file = "3\r\nV04.05\r\nV04.06\r\n";
        for (const QByteArray &l : program.split(' '))
            file += l + "\r\n";
        ASSERT_TRUE(StationDir::write(dir.filePath(QStringLiteral("DLD/KH71_KYO.DLD")), file));
        ASSERT_TRUE(StationDir::write(dir.filePath(QStringLiteral("DLD/XPORT.DLD")), "1\r\n6.6.0.2\r\nS9030000FC\r\n"));

        StationRun run(dir.path());
        ASSERT_TRUE(run.start().isEmpty());
        ASSERT_TRUE(run.waitForLine(kConnected, 20000)) << run.messages();
        ConnectionPage &p = run.page(1);
        ASSERT_TRUE(waitFor([&] { return p.updateEnabled(); }, 2000));

        // What the dialog finds and starts.
        ASSERT_EQ(updatecheck::dialogFor(p), c.dialog);
        const updatecheck::Activation found = updatecheck::activate(c.dialog, updatecheck::reportOf(p), dir.path());
        ASSERT_TRUE(found.errors.isEmpty()) << found.errors.join('\n').toStdString();
        EXPECT_EQ(found.file, QStringLiteral("DLD/KH71_KYO.DLD"));
        updatecheck::Start opened = updatecheck::open(dir.path(), found.file, 2, updatecheck::kInvalidFile);
        ASSERT_TRUE(opened.error.isEmpty());
        QList<int> progress;
        QObject::connect(&UpdateMachine::of(p), &UpdateMachine::feedbackChanged,
                         [&] { progress << UpdateMachine::of(p).progress(); });
        UpdateMachine::of(p).start(updatecheck::machineOf(c.dialog), std::move(opened.file), opened.count, {4, 5, 6});
        if (c.dialog == updatecheck::Dialog::Hd) {
            // The HD unit's restart is a fixed 3000 ticks (5 minutes): run them at once.
            ASSERT_TRUE(waitFor([&] { return UpdateMachine::of(p).step() == 17; }, 30000)) << run.messages();
            EXPECT_EQ(lineRate(link), speed_t(B115200)) << "not switched at DONE";
            while (UpdateMachine::of(p).step() == 17)
                UpdateMachine::of(p).tick();
        }

        ASSERT_TRUE(run.waitForLine(QStringLiteral(" EEPROM Update Succesful "), 30000)) << run.messages();
        EXPECT_TRUE(progress.contains(100));
        ASSERT_TRUE(waitFor([&] { return run.station().messageLog().lines().filter(kConnected).size() == 2; }, 30000))
            << run.messages();
        const LineIdentity &id = dynamic_cast<LineSession *>(p.session())->identity();
        EXPECT_TRUE(id.hasLcd);
        EXPECT_EQ(id.software[0], QByteArray("04.05"));
        EXPECT_EQ(id.software[1], QByteArray("04.06"));
        EXPECT_EQ(id.serial, c.serial);
        EXPECT_EQ(p.settings().baudIndex, c.baudIndex);
        EXPECT_EQ(lineRate(link), c.baudIndex ? speed_t(B115200) : speed_t(B57600));

        // The loader's side: the announcement, each line once, the unit's work.
        QList<QByteArray> received, sent;
        bool garbage = false;
        for (const TraceLine &t : readTrace(trace)) {
            if (t.name == QLatin1String("loader"))
                (t.kind == QLatin1String("RX") ? received : sent) << t.bytes.chopped(1); // its CR
            garbage = garbage || t.name.startsWith(QLatin1String("garbage"));
        }
        EXPECT_EQ(received, c.received.split(' '));
        EXPECT_EQ(sent, c.sent.split(' '));
        EXPECT_FALSE(garbage) << "the station spoke at the wrong rate";
        sim.stop();
    }
}

} // namespace
