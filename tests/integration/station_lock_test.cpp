// One program per station directory: a second copy stops with a message
// naming the process that runs there, and a lock left by a killed process
// does not keep the station from starting again.
#include "station/stationlock.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

TEST(StationLock, SecondCopyStopsNamingTheHolderAndALeftLockFileIsNoObstacle)
{
    QTemporaryDir base;
    ASSERT_TRUE(QDir(base.path()).mkpath("CONFIG"));
    const QString pid = QString::number(::getpid());
    auto lock = std::make_unique<StationLock>();
    QString error;
    ASSERT_TRUE(lock->acquire(base.path(), &error)) << qPrintable(error);

    // The real program, headless, on the same directory.
    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    second.setProcessEnvironment(env);
    second.start(qEnvironmentVariable("TOLVA_SERVER"), {"--headless", "--base", base.path()});
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 1);
    const QString err = QString::fromLocal8Bit(second.readAllStandardError());
    EXPECT_TRUE(err.contains("ERROR") && err.contains("Another tolva-server (process " + pid + ") is already running"))
        << qPrintable(err);
    EXPECT_FALSE(QFileInfo::exists(base.path() + "/CONFIG/Connect1.CFG")); // it touched nothing

    // The holder gone (as after SIGKILL), its file stays and the next copy runs.
    lock.reset();
    ASSERT_TRUE(QFileInfo::exists(base.path() + "/" + StationLock::kFileName));
    StationLock next;
    EXPECT_TRUE(next.acquire(base.path(), &error)) << qPrintable(error);
}
