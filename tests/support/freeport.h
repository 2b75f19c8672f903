// A free TCP port for a server under test, chosen so that a test running beside
// it does not get the same one.
#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QHostAddress>
#include <QRandomGenerator>
#include <QTcpServer>

namespace testsupport {

// A port nobody listens on just now, below the kernel's ephemeral range
// (32768 and up): a port the kernel handed out would be free again after the
// probe, and the next client socket of a test running beside this one could be
// given it before the server under test listens on it.
inline quint16 freePort()
{
    static QRandomGenerator rng(quint32(QCoreApplication::applicationPid()) * 2654435761u
                                ^ quint32(QDateTime::currentMSecsSinceEpoch()));
    for (int i = 0; i < 500; ++i) {
        const quint16 port = quint16(20000 + rng.bounded(12000));
        QTcpServer probe;
        if (probe.listen(QHostAddress::Any, port))
            return port;
    }
    return 0;
}

} // namespace testsupport
