#pragma once
// CONFIG/Console.CFG: whether the console runs, where it listens, and its
// TLS certificate. "key = value" lines; a missing file means the defaults.
#include <QString>

struct ConsoleSettings {
    bool enabled = true;
    QString bind = QStringLiteral("127.0.0.1");
    int port = 8080;
    QString tlsCertificate;
    QString tlsKey;
    bool allowPlainHttp = false;

    bool tls() const { return !tlsCertificate.isEmpty(); }

    static QString path(const QString &configDirectory);
    // Reads and checks the file: an unknown key, a bad value, half a TLS pair,
    // or a non-loopback address without TLS (unless plain HTTP is allowed)
    // is refused with the reason in `error`.
    static bool load(const QString &configDirectory, ConsoleSettings &out, QString *error);
};
