#pragma once
// CONFIG/Network.CFG: the MQTT broker this station publishes to and the
// fleet view reads from. "key = value" lines; a missing file (or one without
// broker_host) means the station network is off.
#include <QString>

namespace keyvalue {
struct File;
}

struct NetworkSettings {
    QString brokerHost;      // empty: off
    int brokerPort = 0;      // 0: 1883, or 8883 with TLS
    QString tlsCa;           // a CA file turns TLS on
    QString tlsCertificate;  // client certificate and key, together
    QString tlsKey;
    QString user;
    QString password;
    QString station;         // empty: the host name
    QString prefix = QStringLiteral("tolva");
    bool publishValues = true;
    bool publishRecords = false;

    bool enabled() const { return !brokerHost.isEmpty(); }
    bool tls() const { return !tlsCa.isEmpty(); }
    int port() const { return brokerPort ? brokerPort : (tls() ? 8883 : 1883); }
    // The station id as published: the one set, or the host name made valid.
    QString stationId() const;

    static QString path(const QString &configDirectory);
    // Reads and checks the file. A station id or prefix that would change
    // the topics' shape ('/', '#', '+', spaces) is refused, as is half a
    // client-certificate pair or a certificate without a CA.
    static bool load(const QString &configDirectory, NetworkSettings &out, QString *error);
    static bool fromFile(const keyvalue::File &f, NetworkSettings &out, QString *error);
    // The file's text, and the file written (the window's dialog) after the
    // same checks as load(); false with the reason.
    QByteArray text() const;
    bool save(const QString &configDirectory, QString *error) const;

    // Letters, digits, '-' and '_', 1 to 64 of them.
    static bool validId(const QString &id);
    static QString hostStationId();
};
