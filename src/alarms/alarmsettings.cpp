#include "alarms/alarmsettings.h"

#include "core/keyvaluefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QRegularExpression>
#include <QUrl>

#include <sys/stat.h>

namespace alarms {

namespace {

const char *const kNames[ConditionCount] = {"link_down",  "unit_silent", "bad_checks", "log_write",
                                            "disk_low",   "unit_alarms", "login_attack"};
const char *const kSeverities[ConditionCount] = {"critical", "critical", "warning", "critical",
                                                 "warning",  "warning",  "warning"};

QStringList listOf(const QString &text)
{
    QStringList out;
    for (const QString &part : text.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts))
        out << part.trimmed();
    return out;
}

bool readSeverities(const keyvalue::File &f, const QString &key, QStringList &out, QString *error)
{
    if (!f.entries.contains(key))
        return true; // the default stays
    QString text;
    keyvalue::readText(f, key, text);
    const QStringList list = listOf(text.toLower());
    for (const QString &s : list)
        if (s != QLatin1String("critical") && s != QLatin1String("warning") && s != QLatin1String("info")) {
            if (error)
                *error = keyvalue::where(f, key) + QStringLiteral("severities are critical, warning and info");
            return false;
        }
    out = list;
    return true;
}

} // namespace

QString conditionName(Condition c)
{
    return QLatin1String(kNames[c]);
}

QString severityOf(Condition c)
{
    return QLatin1String(kSeverities[c]);
}

std::array<ConditionSettings, ConditionCount> AlarmSettings::defaults()
{
    std::array<ConditionSettings, ConditionCount> d;
    d[LinkDown] = {true, 30, 10};
    d[UnitSilent] = {true, 60, 10};
    d[BadChecks] = {true, 0, 60};
    d[LogWrite] = {true, 0, 0};
    d[DiskLow] = {true, 0, 0};
    d[UnitAlarms] = {true, 0, 0};
    d[LoginAttack] = {true, 0, 300};
    return d;
}

QString AlarmSettings::path(const QString &configDirectory)
{
    return configDirectory + QStringLiteral("/Alarms.CFG");
}

bool AlarmSettings::load(const QString &configDirectory, AlarmSettings &out, QString *error)
{
    QStringList known = {QStringLiteral("disk_low_percent"), QStringLiteral("disk_low_mb"),
                         QStringLiteral("smtp_host"),        QStringLiteral("smtp_port"),
                         QStringLiteral("smtp_security"),    QStringLiteral("smtp_user"),
                         QStringLiteral("smtp_password"),    QStringLiteral("mail_from"),
                         QStringLiteral("mail_to"),          QStringLiteral("mail_severities"),
                         QStringLiteral("mail_reminder_h"),  QStringLiteral("webhook_url"),
                         QStringLiteral("webhook_secret"),   QStringLiteral("webhook_severities"),
                         QStringLiteral("webhook_reminder_h"), QStringLiteral("batch_s"),
                         QStringLiteral("retry_first_s"),    QStringLiteral("give_up_s")};
    for (int c = 0; c < ConditionCount; ++c)
        for (const char *suffix : {"_enabled", "_raise_s", "_clear_s"})
            known << QLatin1String(kNames[c]) + QLatin1String(suffix);
    const QString file = path(configDirectory);
    keyvalue::File f;
    AlarmSettings s;
    if (!keyvalue::read(file, known, f, error))
        return false;
    for (int c = 0; c < ConditionCount; ++c) {
        const QString n = QLatin1String(kNames[c]);
        ConditionSettings &cs = s.conditions[size_t(c)];
        if (!keyvalue::readBool(f, n + QStringLiteral("_enabled"), cs.enabled, error)
            || !keyvalue::readInt(f, n + QStringLiteral("_raise_s"), 0, 86400, cs.raiseS, error)
            || !keyvalue::readInt(f, n + QStringLiteral("_clear_s"), 0, 86400, cs.clearS, error))
            return false;
    }
    if (!keyvalue::readInt(f, QStringLiteral("disk_low_percent"), 0, 99, s.diskLowPercent, error)
        || !keyvalue::readInt(f, QStringLiteral("disk_low_mb"), 0, 10000000, s.diskLowMb, error)
        || !keyvalue::readInt(f, QStringLiteral("smtp_port"), 1, 65535, s.smtpPort, error)
        || !keyvalue::readInt(f, QStringLiteral("mail_reminder_h"), 0, 8760, s.mail.reminderH, error)
        || !keyvalue::readInt(f, QStringLiteral("webhook_reminder_h"), 0, 8760, s.webhook.reminderH, error)
        || !keyvalue::readInt(f, QStringLiteral("batch_s"), 0, 3600, s.batchS, error)
        || !keyvalue::readInt(f, QStringLiteral("retry_first_s"), 1, 3600, s.retryFirstS, error)
        || !keyvalue::readInt(f, QStringLiteral("give_up_s"), 1, 7 * 86400, s.giveUpS, error)
        || !readSeverities(f, QStringLiteral("mail_severities"), s.mail.severities, error)
        || !readSeverities(f, QStringLiteral("webhook_severities"), s.webhook.severities, error))
        return false;
    keyvalue::readText(f, QStringLiteral("smtp_host"), s.smtpHost);
    keyvalue::readText(f, QStringLiteral("smtp_user"), s.smtpUser);
    keyvalue::readText(f, QStringLiteral("smtp_password"), s.smtpPassword);
    keyvalue::readText(f, QStringLiteral("mail_from"), s.mailFrom);
    keyvalue::readText(f, QStringLiteral("webhook_secret"), s.webhookSecret);
    keyvalue::readText(f, QStringLiteral("smtp_security"), s.smtpSecurity);
    QString text;
    keyvalue::readText(f, QStringLiteral("mail_to"), text);
    s.mailTo = listOf(text);
    text.clear();
    keyvalue::readText(f, QStringLiteral("webhook_url"), text);
    s.webhookUrls = listOf(text);
    s.smtpSecurity = s.smtpSecurity.toLower();
    if (s.smtpSecurity != QLatin1String("none") && s.smtpSecurity != QLatin1String("starttls")
        && s.smtpSecurity != QLatin1String("tls")) {
        if (error)
            *error = keyvalue::where(f, QStringLiteral("smtp_security")) + QStringLiteral("smtp_security is none, starttls or tls");
        return false;
    }
    for (const QString &u : s.webhookUrls) {
        const QUrl url(u, QUrl::StrictMode);
        if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
            || url.host().isEmpty()) {
            if (error)
                *error = keyvalue::where(f, QStringLiteral("webhook_url")) + QStringLiteral("\"%1\" is not an http or https URL").arg(u);
            return false;
        }
    }
    for (const QString &m : s.mailTo + QStringList{s.mailFrom}) {
        if (m.contains(QLatin1Char('\r')) || m.contains(QLatin1Char('\n')) || m.contains(QLatin1Char('<'))
            || m.contains(QLatin1Char('>')) || (!m.isEmpty() && !m.contains(QLatin1Char('@')))) {
            if (error)
                *error = file + QStringLiteral(": \"%1\" is not a mail address").arg(m);
            return false;
        }
    }
    if (s.mailConfigured() && s.mailFrom.isEmpty()) {
        if (error)
            *error = file + QStringLiteral(": mail_to is set without mail_from");
        return false;
    }
    if (!s.smtpPassword.isEmpty() || !s.webhookSecret.isEmpty()) {
        struct stat st {};
        if (::stat(QFile::encodeName(file).constData(), &st) == 0 && (st.st_mode & 077)) {
            if (error)
                *error = file + QStringLiteral(" holds a password but others can read it: chmod 600 ") + file;
            return false;
        }
    }
    out = s;
    return true;
}

QList<QPair<QString, QString>> AlarmSettings::entries(const AlarmSettings &s)
{
    QList<QPair<QString, QString>> out;
    auto line = [&](const QString &key, const QString &value) { out << qMakePair(key, value); };
    for (int c = 0; c < ConditionCount; ++c) {
        const ConditionSettings &cs = s.conditions[size_t(c)];
        const QString n = QLatin1String(kNames[c]);
        line(n + QStringLiteral("_enabled"), cs.enabled ? QStringLiteral("1") : QStringLiteral("0"));
        line(n + QStringLiteral("_raise_s"), QString::number(cs.raiseS));
        line(n + QStringLiteral("_clear_s"), QString::number(cs.clearS));
    }
    line(QStringLiteral("disk_low_percent"), QString::number(s.diskLowPercent));
    line(QStringLiteral("disk_low_mb"), QString::number(s.diskLowMb));
    line(QStringLiteral("smtp_host"), s.smtpHost);
    line(QStringLiteral("smtp_port"), QString::number(s.smtpPort));
    line(QStringLiteral("smtp_security"), s.smtpSecurity);
    line(QStringLiteral("smtp_user"), s.smtpUser);
    line(QStringLiteral("smtp_password"), s.smtpPassword);
    line(QStringLiteral("mail_from"), s.mailFrom);
    line(QStringLiteral("mail_to"), s.mailTo.join(QStringLiteral(", ")));
    line(QStringLiteral("mail_severities"), s.mail.severities.join(QLatin1Char(',')));
    line(QStringLiteral("mail_reminder_h"), QString::number(s.mail.reminderH));
    line(QStringLiteral("webhook_url"), s.webhookUrls.join(QLatin1Char(' ')));
    line(QStringLiteral("webhook_secret"), s.webhookSecret);
    line(QStringLiteral("webhook_severities"), s.webhook.severities.join(QLatin1Char(',')));
    line(QStringLiteral("webhook_reminder_h"), QString::number(s.webhook.reminderH));
    line(QStringLiteral("batch_s"), QString::number(s.batchS));
    line(QStringLiteral("retry_first_s"), QString::number(s.retryFirstS));
    line(QStringLiteral("give_up_s"), QString::number(s.giveUpS));
    return out;
}

bool AlarmSettings::save(const QString &configDirectory, const AlarmSettings &s, QString *error)
{
    QByteArray text = "# Alarms and notifications (written by tolva-server)\n";
    for (const auto &[key, value] : entries(s))
        text += (key + QStringLiteral(" = ") + value + QLatin1Char('\n')).toUtf8();
    QSaveFile f(path(configDirectory));
    if (!f.open(QIODevice::WriteOnly)) {
        if (error)
            *error = f.fileName() + QStringLiteral(": ") + f.errorString();
        return false;
    }
    // Owner only before the first secret byte is written.
    ::fchmod(f.handle(), 0600);
    f.write(text);
    if (!f.commit()) {
        if (error)
            *error = f.fileName() + QStringLiteral(": ") + f.errorString();
        return false;
    }
    return true;
}

} // namespace alarms
