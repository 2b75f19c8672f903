#include "console/consolesettings.h"

#include "core/keyvaluefile.h"

#include <QHostAddress>

QString ConsoleSettings::path(const QString &configDirectory)
{
    return configDirectory + QStringLiteral("/Console.CFG");
}

bool ConsoleSettings::load(const QString &configDirectory, ConsoleSettings &out, QString *error)
{
    static const QStringList known = {QStringLiteral("enabled"),         QStringLiteral("bind"),
                                      QStringLiteral("port"),            QStringLiteral("tls_certificate"),
                                      QStringLiteral("tls_key"),         QStringLiteral("allow_plain_http")};
    keyvalue::File f;
    ConsoleSettings s;
    if (!keyvalue::read(path(configDirectory), known, f, error)
        || !keyvalue::readBool(f, QStringLiteral("enabled"), s.enabled, error)
        || !keyvalue::readInt(f, QStringLiteral("port"), 1, 65535, s.port, error)
        || !keyvalue::readBool(f, QStringLiteral("allow_plain_http"), s.allowPlainHttp, error))
        return false;
    keyvalue::readText(f, QStringLiteral("bind"), s.bind);
    keyvalue::readText(f, QStringLiteral("tls_certificate"), s.tlsCertificate);
    keyvalue::readText(f, QStringLiteral("tls_key"), s.tlsKey);
    const QHostAddress address(s.bind);
    if (address.isNull()) {
        if (error)
            *error = keyvalue::where(f, QStringLiteral("bind")) + QStringLiteral("bind must be an IP address");
        return false;
    }
    if (s.tlsCertificate.isEmpty() != s.tlsKey.isEmpty()) {
        if (error)
            *error = path(configDirectory) + QStringLiteral(": tls_certificate and tls_key go together");
        return false;
    }
    if (!address.isLoopback() && !s.tls() && !s.allowPlainHttp) {
        if (error)
            *error = keyvalue::where(f, QStringLiteral("bind"))
                + QStringLiteral("the console would listen on %1 without TLS: set tls_certificate and tls_key "
                                 "(PEM files) in Console.CFG, or allow_plain_http = 1 on a network you trust")
                      .arg(s.bind);
        return false;
    }
    out = s;
    return true;
}
