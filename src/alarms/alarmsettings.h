#pragma once
// CONFIG/Alarms.CFG: which conditions the station watches, their hold
// times, and where notifications go. "key = value" lines; a missing file
// means every condition on with its default hold times and no notifications.
#include <QString>
#include <QList>
#include <QPair>
#include <QStringList>
#include <array>

namespace alarms {

enum Condition { LinkDown, UnitSilent, BadChecks, LogWrite, DiskLow, UnitAlarms, LoginAttack, ConditionCount };

// "link_down", ... as the file and the API name them.
QString conditionName(Condition c);
QString severityOf(Condition c);

struct ConditionSettings {
    bool enabled = true;
    int raiseS = 0; // seconds the condition must hold before the alarm is raised
    int clearS = 0; // seconds it must be gone before the alarm is cleared
};

struct ChannelSettings {
    QStringList severities{QStringLiteral("critical"), QStringLiteral("warning")};
    int reminderH = 0; // a reminder every N hours while an alarm stays active; 0: none
};

struct AlarmSettings {
    std::array<ConditionSettings, ConditionCount> conditions = defaults();

    int diskLowPercent = 5;
    int diskLowMb = 500;

    QString smtpHost;
    int smtpPort = 25;
    QString smtpSecurity = QStringLiteral("none"); // none, starttls, tls
    QString smtpUser, smtpPassword;
    QString mailFrom;
    QStringList mailTo;
    ChannelSettings mail;

    QStringList webhookUrls;
    QString webhookSecret;
    ChannelSettings webhook;

    // Events within this many seconds of the first go in one message.
    int batchS = 10;
    // A failed delivery is tried again after retryFirstS, doubling up to
    // ten minutes, until giveUpS after the first attempt.
    int retryFirstS = 10;
    int giveUpS = 3600;

    bool mailConfigured() const { return !smtpHost.isEmpty() && !mailTo.isEmpty(); }
    bool webhookConfigured() const { return !webhookUrls.isEmpty(); }

    static std::array<ConditionSettings, ConditionCount> defaults();
    static QString path(const QString &configDirectory);
    // Reads and checks the file. A file holding a password or secret that
    // others than its owner may read is refused (it says how to fix it).
    static bool load(const QString &configDirectory, AlarmSettings &out, QString *error);
    // The file's keys and values in file order (what save writes).
    static QList<QPair<QString, QString>> entries(const AlarmSettings &s);
    static bool isSecret(const QString &key) { return key == QLatin1String("smtp_password") || key == QLatin1String("webhook_secret"); }
    // Writes the file readable by its owner only.
    static bool save(const QString &configDirectory, const AlarmSettings &s, QString *error);
};

} // namespace alarms
