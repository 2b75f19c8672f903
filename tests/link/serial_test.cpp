#include "link/comportmap.h"
#include "link/seriallibrary.h"
#include "support/bytes.h"
#include "support/waitfor.h"

#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
// A pseudo-terminal: the library opens the slave side, the test plays the unit on the master side.
struct Pty {
    int master = -1;
    QString slavePath;
    Pty()
    {
        int slave = -1;
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            struct termios tio;
            ::tcgetattr(slave, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(slave, TCSANOW, &tio);
            ::close(slave);
            slavePath = QString::fromLocal8Bit(name);
            ::fcntl(master, F_SETFL, O_NONBLOCK);
        }
    }
    ~Pty() { closeMaster(); }
    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void write(const QByteArray &b) const { ASSERT_EQ(::write(master, b.constData(), size_t(b.size())), b.size()); }
    QByteArray read() const
    {
        char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        return n > 0 ? QByteArray(buf, int(n)) : QByteArray();
    }
};


// The library with COM1 on a pseudo-terminal.
class SerialLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(pty.slavePath.isEmpty());
        map.setDevicePath(0, pty.slavePath);
    }
    QByteArray atUnit(qsizetype n) { return gather([&] { return pty.read(); }, n); }
    Pty pty;
    ComPortMap map;
    SerialLibrary lib{map};
};
} // namespace

TEST_F(SerialLibraryTest, OpensAPseudoTerminalAndPassesEveryByteValue)
{
    EXPECT_EQ(lib.sioStatus(0), sio::NotOpen);
    ASSERT_EQ(lib.sioReset(0, 2048, 512), 0);
    EXPECT_EQ(lib.sioStatus(0), 0);
    EXPECT_EQ(lib.sioParms(0, 0, 0, 8), 0);
    EXPECT_EQ(lib.sioBaud(0, 3), 0);
    EXPECT_EQ(lib.sioBaud(0, 12), sio::BadBaud);
    // A pty refuses modem control; that is not an error here.
    EXPECT_EQ(lib.sioDtr(0, 'S'), 0);
    EXPECT_EQ(lib.sioRts(0, 'S'), 0);
    EXPECT_EQ(lib.sioFlow(0, 'N'), 0);

    const QByteArray every = allByteValues();
    EXPECT_EQ(lib.sioPuts(0, every), 256);
    EXPECT_EQ(atUnit(256), every);
    pty.write(every);
    EXPECT_EQ(gather([&] { return lib.sioGets(0, 100); }, 256), every);
    EXPECT_TRUE(lib.sioGets(0, 100).isEmpty()); // reads never wait

    pty.write("stale");
    waitFor([&] { return lib.sioRxQue(0) >= 5; });
    EXPECT_EQ(lib.sioRxClear(0), 0);
    EXPECT_TRUE(lib.sioGets(0, 100).isEmpty());

    EXPECT_EQ(lib.sioDone(0), 0);
    EXPECT_EQ(lib.sioStatus(0), sio::NotOpen);
    EXPECT_EQ(lib.sioGets(0, 10), QByteArray());
}

TEST_F(SerialLibraryTest, BytesWrittenJustBeforeClosingReachTheFarEnd)
{
    ASSERT_EQ(lib.sioReset(0, 2048, 512), 0);
    // A log-off followed at once by the close, with no event loop in between.
    EXPECT_EQ(lib.sioPuts(0, QByteArray("\x02\xFE", 2)), 2);
    EXPECT_EQ(lib.sioDone(0), 0);
    EXPECT_EQ(atUnit(2), QByteArray("\x02\xFE", 2));
}

TEST(SerialLibrary, MissingDeviceAndDoubleOpens)
{
    Pty pty;
    QTemporaryDir dir;
    const QString link = dir.filePath("com3");
    ASSERT_TRUE(QFile::link(pty.slavePath, link));
    ComPortMap map;
    map.setDevicePath(0, dir.filePath("no-such-device"));
    map.setDevicePath(1, pty.slavePath);
    map.setDevicePath(2, link);
    SerialLibrary lib(map);

    EXPECT_EQ(lib.sioStatus(0), sio::NoSuchPort);
    EXPECT_EQ(lib.sioReset(0, 2048, 512), sio::NoSuchPort);
    EXPECT_EQ(lib.sioStatus(42), sio::NoSuchPort);

    ASSERT_EQ(lib.sioReset(1, 2048, 512), 0);
    // The same device through a link counts as already open.
    EXPECT_EQ(lib.sioStatus(2), 0);
    EXPECT_EQ(lib.sioReset(2, 2048, 512), sio::AlreadyOpen);
    EXPECT_EQ(lib.sioReset(1, 2048, 512), sio::AlreadyOpen);
    EXPECT_EQ(sio::errorText(sio::AlreadyOpen), QStringLiteral("Port already opened."));
    EXPECT_EQ(sio::errorText(sio::NoSuchPort), QStringLiteral("No Such Port"));
    EXPECT_EQ(sio::errorText(-7), QString());
}

TEST_F(SerialLibraryTest, FarEndClosingFailsThePortOnce)
{
    ASSERT_EQ(lib.sioReset(0, 2048, 512), 0);
    QSignalSpy failed(&lib, &SerialLibrary::portFailed);
    pty.closeMaster();
    ASSERT_TRUE(waitFor([&] { return failed.count() > 0; }));
    waitFor([] { return false; }, 200);
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(failed.at(0).at(0).toInt(), 0);
    EXPECT_EQ(failed.at(0).at(1).toString(), pty.slavePath + ": the device hung up");
    EXPECT_FALSE(lib.isOpen(0)); // closed by the library, not left spinning
    EXPECT_EQ(lib.sioStatus(0), sio::NoSuchPort); // the pty is gone with its far end
}

TEST(ComPortMap, FileCreatedWithDefaultsAndEmptyLinesMeanDefault)
{
    QTemporaryDir dir;
    ComPortMap map;
    ASSERT_TRUE(map.load(dir.path()));
    QFile file(dir.filePath("SerialPorts.CFG"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("/dev/ttyS0\r\n/dev/ttyS1\r\n/dev/ttyS2\r\n/dev/ttyS3\r\n/dev/ttyS4\r\n"
                                         "/dev/ttyS5\r\n/dev/ttyS6\r\n/dev/ttyS7\r\n/dev/ttyS8\r\n"));
    file.close();

    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("/dev/ttyUSB0\r\n\r\n/dev/pts/7\r\n");
    file.close();
    ComPortMap edited;
    ASSERT_TRUE(edited.load(dir.path()));
    EXPECT_EQ(edited.devicePath(0), QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(edited.devicePath(1), QStringLiteral("/dev/ttyS1"));
    EXPECT_EQ(edited.devicePath(2), QStringLiteral("/dev/pts/7"));
    EXPECT_EQ(edited.devicePath(8), QStringLiteral("/dev/ttyS8"));
    EXPECT_EQ(edited.devicePath(9), QString());
}
