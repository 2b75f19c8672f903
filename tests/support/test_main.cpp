// Test entry point: sockets, serial ports and timers need an application
// object and its event loop; window tests need the widget application.
// Unless the environment says otherwise, windows are drawn off screen and
// the built programs are taken from the build directory.
#include <gtest/gtest.h>

#ifdef TOLVA_TEST_GUI
#include <QApplication>
using TestApplication = QApplication;
#else
#include "core/epolldispatcher.h"
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

static void setDefault(const char *name, const QByteArray &value)
{
    if (qEnvironmentVariableIsEmpty(name))
        qputenv(name, value);
}

int main(int argc, char **argv)
{
#ifdef TOLVA_SCREEN_CONFIG
    setDefault("QT_QPA_PLATFORM", "offscreen:configfile=" TOLVA_SCREEN_CONFIG);
#else
    setDefault("QT_QPA_PLATFORM", "offscreen");
#endif
#ifdef TOLVA_BUILD_DIR
    setDefault("TOLVA_UNITSIM", TOLVA_BUILD_DIR "/tolva-unitsim");
    setDefault("TOLVA_SERVER", TOLVA_BUILD_DIR "/tolva-server");
    setDefault("TOLVA_SCREENSHOT_DIR", TOLVA_BUILD_DIR);
#endif
#ifndef TOLVA_TEST_GUI
    // The engine runs on the service's dispatcher in its tests too, unless
    // asked for the window mode's.
    if (qgetenv("TOLVA_DISPATCHER") != "qt")
        QCoreApplication::setEventDispatcher(new EpollDispatcher);
#endif
    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
