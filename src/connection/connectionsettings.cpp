#include "connection/connectionsettings.h"

#include "core/configfiles.h"
#include "core/outsidetext.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

ConnectionSettings ConnectionSettings::defaults(int pageNumber, const QString &baseDirectory)
{
    ConnectionSettings s;
    const QString digit = QString::number(pageNumber);
    s.password = QStringLiteral("KELPO4");
    s.ipAddress = QStringLiteral("000.000.000.000");
    s.logDirectory = baseDirectory + QStringLiteral("/LOG/");
    s.logPrefix = connectionsettings::pageName(pageNumber) + QLatin1Char('-');
    s.connectionName = pageNumber == 1 ? QStringLiteral("Connect #1") : QStringLiteral("    #") + digit + QStringLiteral("  ");
    s.rackName = QStringLiteral("Rack") + digit;
    return s;
}

namespace connectionsettings {

QString pageName(int pageNumber)
{
    return QStringLiteral("Connect") + QString::number(pageNumber);
}

QString filePath(const QString &baseDirectory, int pageNumber)
{
    return baseDirectory + QStringLiteral("/CONFIG/") + pageName(pageNumber) + QStringLiteral(".CFG");
}

static QByteArray text(const QString &s)
{
    return s.toLatin1();
}

static QByteArray number(int value, int width)
{
    return QByteArray::number(value).rightJustified(width, ' ');
}

static QByteArray boolean(bool value)
{
    return value ? "1" : "0";
}

QByteArray serialize(const ConnectionSettings &s)
{
    const QByteArray lines[kLines] = {
        number(s.hardwareType, 2), text(s.password),         number(s.connectionType, 2),
        boolean(s.autoConnect),    number(s.serialPort, 2),   number(s.baudIndex, 2),
        number(s.modemPort, 2),    text(s.phoneNumber),       text(s.ipAddress),
        number(s.portNumber, 6),   text(s.logDirectory),      text(s.logPrefix),
        boolean(s.logEnabled),     text(s.connectionName),    text(s.rackName),
        text(s.hostName),          boolean(s.useHostName),
    };
    QByteArray out;
    for (const QByteArray &line : lines)
        out += line + "\r\n";
    if (s.autoReconnect)
        out += "1\r\n";
    return out;
}

// Decimal with optional leading blanks and sign, as the settings have always
// been read; anything else is a conversion error.
static bool toInt(const QByteArray &line, int *value)
{
    qsizetype i = 0;
    while (i < line.size() && line.at(i) == ' ')
        ++i;
    const QByteArray rest = line.mid(i);
    if (rest.isEmpty())
        return false;
    for (qsizetype k = 0; k < rest.size(); ++k) {
        const char c = rest.at(k);
        if (!((c >= '0' && c <= '9') || (k == 0 && (c == '-' || c == '+'))))
            return false;
    }
    bool ok = false;
    const int v = rest.toInt(&ok, 10);
    if (ok)
        *value = v;
    return ok;
}

static QString notAnInteger(const QByteArray &line)
{
    return QLatin1Char('\'') + outsidetext::shown(line) + QStringLiteral("' is not a valid integer value");
}

bool parse(const QByteArray &fileText, ConnectionSettings &s, QString *error, int *errorLine)
{
    QList<QByteArray> values = serialize(s).split('\n');
    for (QByteArray &line : values)
        if (line.endsWith('\r'))
            line.chop(1);
    values.resize(kSlots);

    const QList<QByteArray> lines = fileText.split('\n');
    // A final line end does not start another line, and an empty file has none.
    const qsizetype count = fileText.isEmpty() ? 0 : fileText.endsWith('\n') ? lines.size() - 1 : lines.size();
    for (qsizetype i = 0; i < count && i < kSlots; ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        values[i] = line;
    }

    auto integer = [&](int index, int &field) {
        int v;
        if (!toInt(values[index], &v)) {
            if (error)
                *error = notAnInteger(values[index]);
            if (errorLine)
                *errorLine = index + 1;
            return false;
        }
        field = v;
        return true;
    };
    auto flag = [&](int index, bool &field) {
        int v;
        if (!toInt(values[index], &v)) {
            if (error)
                *error = notAnInteger(values[index]);
            if (errorLine)
                *errorLine = index + 1;
            return false;
        }
        if (v == 0)
            field = false;
        else if (v == 1)
            field = true;
        return true;
    };
    auto str = [&](int index, QString &field) {
        field = QString::fromLatin1(values[index]);
        return true;
    };

    int reconnect = 0;
    s.autoReconnect = toInt(values[kReconnectLine - 1], &reconnect) && reconnect == 1;

    // A network page cannot use port 0 (it would reach no unit), and no page
    // a port beyond 65535; port 0 stays what the other link types hold.
    auto port = [&](int index, int &field) {
        if (!integer(index, field))
            return false;
        if (field >= (s.connectionType == 1 ? 1 : 0) && field <= kMaxPort)
            return true;
        if (error)
            *error = QLatin1Char('\'') + outsidetext::shown(values[index])
                + QStringLiteral("' is not a port number from 1 to 65535");
        if (errorLine)
            *errorLine = index + 1;
        return false;
    };

    return integer(0, s.hardwareType) && str(1, s.password) && integer(2, s.connectionType)
        && flag(3, s.autoConnect) && integer(4, s.serialPort) && integer(5, s.baudIndex)
        && integer(6, s.modemPort) && str(7, s.phoneNumber) && str(8, s.ipAddress)
        && port(9, s.portNumber) && str(10, s.logDirectory) && str(11, s.logPrefix)
        && flag(12, s.logEnabled) && str(13, s.connectionName) && str(14, s.rackName)
        && str(15, s.hostName) && flag(16, s.useHostName);
}

bool load(const QString &baseDirectory, int pageNumber, ConnectionSettings &s, QString *error)
{
    s = ConnectionSettings::defaults(pageNumber, baseDirectory);
    const QString path = filePath(baseDirectory, pageNumber);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!save(baseDirectory, pageNumber, s, error))
            return false;
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = path + QStringLiteral(": ") + file.errorString();
            return false;
        }
    }
    // 49 short lines at most are read; a huge file is not read whole.
    const QByteArray content = file.read(256 * 1024);
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    int line = 0;
    if (parse(content, s, error, &line))
        return true;
    if (error)
        *error = QDir::toNativeSeparators(path) + QStringLiteral(" line ") + QString::number(line)
            + QStringLiteral(": ") + *error;
    return false;
}

bool save(const QString &baseDirectory, int pageNumber, const ConnectionSettings &s, QString *error)
{
    const QString path = filePath(baseDirectory, pageNumber);
    // Written to a temporary file and renamed, so a full disk never leaves half a file.
    QSaveFile file(path);
    const QByteArray content = serialize(s);
    // The file holds the unit's password: its owner's alone, as the user files are.
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(content) != content.size() || !file.commit()) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

int baudCode(int hardwareType, int baudIndex, int current, bool openingModem)
{
    switch (hardwareType) {
    case 0:
        if (openingModem)
            return 3;
        return baudIndex >= 0 && baudIndex <= 3 ? 2 + baudIndex : current;
    case 1:
        return 8;
    case 2:
        return baudIndex == 0 ? 8 : baudIndex == 1 ? 9 : current;
    case 3:
        return 9;
    default:
        return current;
    }
}

QString baudText(int code)
{
    static const char *texts[] = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
    return code >= 2 && code <= 9 ? QString::fromLatin1(texts[code - 2]) : QString();
}

} // namespace connectionsettings
