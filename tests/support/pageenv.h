#pragma once
// What a connection page is given, for tests of real links: a station
// directory with CONFIG, a message log on a fake clock, the serial library.
#include "connection/connectionpage.h"
#include "core/messagelog.h"
#include "link/comportmap.h"
#include "link/seriallibrary.h"
#include "protocols/sessionfactory.h"
#include "support/fakeclock.h"

#include <QDir>
#include <QTemporaryDir>

struct PageEnvironment {
    QTemporaryDir dir;
    FakeClock clock;
    MessageLog log{clock};
    ComPortMap map;
    SerialLibrary serial{map};
    ConnectionPage::Environment env{dir.path(), &log, &clock, &serial, createSession};

    PageEnvironment()
    {
        log.setEchoToStderr(false);
        QDir(dir.path()).mkdir(QStringLiteral("CONFIG"));
    }
};
