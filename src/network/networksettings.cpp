#include "network/networksettings.h"

#include "core/keyvaluefile.h"

#include <QHostInfo>
#include <QRegularExpression>
#include <QSaveFile>

QString NetworkSettings::path(const QString &configDirectory)
{
    return configDirectory + QStringLiteral("/Network.CFG");
}

bool NetworkSettings::validId(const QString &id)
{
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return re.match(id).hasMatch();
}

QString NetworkSettings::hostStationId()
{
    // A host name may hold dots ("site.example.org"): the first label is the id.
    QString name = QHostInfo::localHostName().section(QLatin1Char('.'), 0, 0);
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return validId(name) ? name : QStringLiteral("station");
}

QString NetworkSettings::stationId() const
{
    return station.isEmpty() ? hostStationId() : station;
}

namespace {

const QStringList &knownKeys()
{
    static const QStringList known = {
        QStringLiteral("broker_host"), QStringLiteral("broker_port"),     QStringLiteral("tls_ca"),
        QStringLiteral("tls_certificate"), QStringLiteral("tls_key"),     QStringLiteral("user"),
        QStringLiteral("password"),    QStringLiteral("station"),         QStringLiteral("prefix"),
        QStringLiteral("publish_values"), QStringLiteral("publish_records")};
    return known;
}

} // namespace

bool NetworkSettings::load(const QString &configDirectory, NetworkSettings &out, QString *error)
{
    keyvalue::File f;
    return keyvalue::read(path(configDirectory), knownKeys(), f, error) && fromFile(f, out, error);
}

bool NetworkSettings::fromFile(const keyvalue::File &f, NetworkSettings &out, QString *error)
{
    NetworkSettings s;
    if (!keyvalue::readInt(f, QStringLiteral("broker_port"), 1, 65535, s.brokerPort, error)
        || !keyvalue::readBool(f, QStringLiteral("publish_values"), s.publishValues, error)
        || !keyvalue::readBool(f, QStringLiteral("publish_records"), s.publishRecords, error))
        return false;
    keyvalue::readText(f, QStringLiteral("broker_host"), s.brokerHost);
    keyvalue::readText(f, QStringLiteral("tls_ca"), s.tlsCa);
    keyvalue::readText(f, QStringLiteral("tls_certificate"), s.tlsCertificate);
    keyvalue::readText(f, QStringLiteral("tls_key"), s.tlsKey);
    keyvalue::readText(f, QStringLiteral("user"), s.user);
    keyvalue::readText(f, QStringLiteral("password"), s.password);
    keyvalue::readText(f, QStringLiteral("station"), s.station);
    keyvalue::readText(f, QStringLiteral("prefix"), s.prefix);
    auto refuse = [&](const QString &key, const QString &why) {
        if (error)
            *error = (f.entries.contains(key) ? keyvalue::where(f, key) : f.path + QStringLiteral(": ")) + why;
        return false;
    };
    if (!s.station.isEmpty() && !validId(s.station))
        return refuse(QStringLiteral("station"),
                      QStringLiteral("the station id \"%1\" may hold only letters, digits, '-' and '_' (at most 64)")
                          .arg(s.station));
    if (!validId(s.prefix))
        return refuse(QStringLiteral("prefix"),
                      QStringLiteral("the prefix \"%1\" may hold only letters, digits, '-' and '_' (at most 64)").arg(s.prefix));
    if (s.brokerHost.contains(QLatin1Char(' ')) || s.brokerHost.contains(QLatin1Char('/')))
        return refuse(QStringLiteral("broker_host"), QStringLiteral("broker_host is a host name or an IP address"));
    if (s.tlsCertificate.isEmpty() != s.tlsKey.isEmpty())
        return refuse(QStringLiteral("tls_certificate"), QStringLiteral("tls_certificate and tls_key go together"));
    if (!s.tlsCertificate.isEmpty() && s.tlsCa.isEmpty())
        return refuse(QStringLiteral("tls_certificate"), QStringLiteral("a client certificate needs tls_ca (the broker's CA)"));
    if (!s.password.isEmpty() && s.user.isEmpty())
        return refuse(QStringLiteral("password"), QStringLiteral("a password needs a user"));
    out = s;
    return true;
}

QByteArray NetworkSettings::text() const
{
    QByteArray text = "# The station network: the MQTT broker this station publishes to.\n";
    auto line = [&](const char *key, const QString &value) {
        if (!value.isEmpty())
            text += QByteArray(key) + " = " + value.toUtf8() + '\n';
    };
    line("broker_host", brokerHost);
    line("broker_port", brokerPort ? QString::number(brokerPort) : QString());
    line("tls_ca", tlsCa);
    line("tls_certificate", tlsCertificate);
    line("tls_key", tlsKey);
    line("user", user);
    line("password", password);
    line("station", station);
    line("prefix", prefix == QLatin1String("tolva") ? QString() : prefix);
    text += "publish_values = " + QByteArray(publishValues ? "1" : "0") + '\n';
    text += "publish_records = " + QByteArray(publishRecords ? "1" : "0") + '\n';
    return text;
}

bool NetworkSettings::save(const QString &configDirectory, QString *error) const
{
    // Checked as the program will read it, before anything is written.
    const QByteArray text = this->text();
    keyvalue::File f;
    NetworkSettings check;
    if (!keyvalue::parse(text, path(configDirectory), knownKeys(), f, error) || !fromFile(f, check, error))
        return false;
    QSaveFile file(path(configDirectory));
    // It may hold the broker password: the owner only.
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()
        || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || !file.commit()) {
        if (error)
            *error = path(configDirectory) + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}
