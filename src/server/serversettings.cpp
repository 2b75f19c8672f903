#include "server/serversettings.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QList>

namespace serverfiles {
namespace {

// Settings and user files are a few lines long; a bigger one is not ours.
constexpr qint64 kMaxFileSize = 1 << 20;

int pageDigit(const QString &pageName)
{
    return pageName.size() >= 7 ? pageName.at(6).digitValue() : 0;
}

QByteArray right(int value, int width)
{
    return QString::number(value).rightJustified(width, QLatin1Char(' ')).toLatin1();
}

// Lines as a text-file reader sees them: CR LF, LF or a lone CR end a line;
// the break after the last line does not start another one.
QList<QByteArray> splitLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    QByteArray current;
    bool open = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\r' || c == '\n') {
            lines.append(current);
            current.clear();
            open = false;
            if (c == '\r' && i + 1 < text.size() && text.at(i + 1) == '\n')
                ++i;
        } else {
            current.append(c);
            open = true;
        }
    }
    if (open)
        lines.append(current);
    return lines;
}

// Leading blanks are skipped; the number ends at the first blank after it.
bool readNumber(const QList<QByteArray> &lines, int index, int &value)
{
    if (index >= lines.size()) {
        value = 0; // reading past the end yields 0, as a text-file reader does
        return true;
    }
    const QByteArray trimmed = lines.at(index).trimmed();
    const qsizetype blank = trimmed.indexOf(' ');
    bool ok = false;
    value = (blank < 0 ? trimmed : trimmed.left(blank)).toInt(&ok);
    return ok;
}

bool readFile(const QString &path, QByteArray &content, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Cannot read ") + QDir::toNativeSeparators(path) + QStringLiteral(": ") + file.errorString();
        return false;
    }
    // A read error or a file over the bound is a failure: a cut-off user
    // file read as whole would lose the accounts past the cut at the next save.
    content = file.read(kMaxFileSize + 1);
    const bool tooLarge = content.size() > kMaxFileSize;
    if (tooLarge || file.error() != QFileDevice::NoError) {
        error = QStringLiteral("Cannot read ") + QDir::toNativeSeparators(path) + QStringLiteral(": ")
            + (tooLarge ? QStringLiteral("larger than 1 MiB") : file.errorString());
        content.clear();
        return false;
    }
    return true;
}

// Both files are their owner's alone: the user file holds passwords, and the
// settings file is kept like the other settings files beside it.
bool writeFile(const QString &path, const QByteArray &content, QString &error)
{
    QFile file(path);
    const QFileDevice::Permissions ownerRw = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (file.exists() && !file.setPermissions(ownerRw)) {
        error = QStringLiteral("Cannot protect ") + QDir::toNativeSeparators(path) + QStringLiteral(": ") + file.errorString();
        return false;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate, ownerRw) || file.write(content) != content.size() || !file.flush()) {
        error = QStringLiteral("Cannot write ") + QDir::toNativeSeparators(path) + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

} // namespace

QString settingsPath(const QString &baseDir, const QString &pageName)
{
    return baseDir + QStringLiteral("/CONFIG/") + pageName + QStringLiteral(".CFG");
}

QString usersPath(const QString &baseDir, const QString &pageName)
{
    return baseDir + QStringLiteral("/CONFIG/") + pageName + QStringLiteral(".USR");
}

namespace {

// An address alone is a network of its one address.
// Only a full address: the short forms "10.1" or "10.258" would be read as
// something else than their writer meant.
bool fullAddress(const QString &text)
{
    if (text.contains(QLatin1Char(':')))
        return !QHostAddress(text).isNull();
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &p : parts) {
        bool ok = false;
        if (p.isEmpty() || p.size() > 3 || p.toInt(&ok) > 255 || !ok)
            return false;
    }
    return !QHostAddress(text).isNull();
}

std::pair<QHostAddress, int> networkOf(const QString &entry)
{
    if (!fullAddress(entry.section(QLatin1Char('/'), 0, 0)))
        return {QHostAddress(), -1};
    if (!entry.contains(QLatin1Char('/'))) {
        const QHostAddress a(entry);
        return {a, a.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
    }
    return QHostAddress::parseSubnet(entry);
}

} // namespace

bool parseNetworks(const QString &text, QStringList &networks, QString &error)
{
    QStringList out;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QString entry = part.trimmed();
        if (entry.isEmpty())
            continue;
        if (networkOf(entry).second < 0) {
            error = QStringLiteral("\"%1\" is not an address or network such as 192.168.1.0/24 or 2001:db8::/64")
                        .arg(entry.left(60));
            return false;
        }
        out.append(entry);
    }
    networks = out;
    return true;
}

QString networksText(const QStringList &networks)
{
    return networks.join(QStringLiteral(", "));
}

bool clientAllowed(const QStringList &networks, const QString &address)
{
    if (networks.isEmpty())
        return true;
    QHostAddress peer(address);
    bool v4 = false;
    const quint32 ip4 = peer.toIPv4Address(&v4);
    if (v4)
        peer = QHostAddress(ip4); // a mapped IPv4 peer matches IPv4 networks
    for (const QString &entry : networks) {
        const auto [net, bits] = networkOf(entry);
        if (bits >= 0 && peer.isInSubnet(net, bits))
            return true;
    }
    return false;
}

QByteArray settingsText(const ServerSettings &s)
{
    // Lines 5 and 6 only when used: a file without them stays as older
    // versions wrote it.
    QByteArray out = right(s.source, 2) + "\r\n" + (s.enableOnStartup ? "1" : "0") + "\r\n" + right(s.listenPort, 6)
        + "\r\n" + (s.requireAuth ? "1" : "0") + "\r\n";
    if (!s.bindAddress.isEmpty() || !s.allowedClients.isEmpty())
        out += s.bindAddress.toLatin1() + "\r\n";
    if (!s.allowedClients.isEmpty())
        out += networksText(s.allowedClients).toLatin1() + "\r\n";
    return out;
}

QByteArray usersText(const UserTable &users)
{
    QByteArray out = right(int(users.size()), 2) + "\r\n";
    for (const UserAccount &u : users)
        out += u.name.toLatin1() + "\r\n" + u.password.toLatin1() + "\r\n" + u.authorization.toLatin1() + "\r\n";
    return out;
}

bool parseSettings(const QByteArray &text, ServerSettings &s, QString &error, int *line)
{
    const QList<QByteArray> lines = splitLines(text);
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (!readNumber(lines, i, values[i])) {
            error = QStringLiteral("Invalid numeric input");
            if (line)
                *line = i + 1;
            return false;
        }
    }
    const auto [source, enable, port, auth] = values;
    // Port 0 would have the system pick one that no viewer knows.
    if (port < 1 || port > 65535) {
        error = QStringLiteral("%1 is not a port number from 1 to 65535").arg(port);
        if (line)
            *line = 3;
        return false;
    }
    QStringList allowed;
    if (lines.size() > 5 && !parseNetworks(QString::fromLatin1(lines.at(5)), allowed, error)) {
        if (line)
            *line = 6;
        return false;
    }
    s.source = source;
    if (enable == 0 || enable == 1)
        s.enableOnStartup = enable == 1;
    s.listenPort = port;
    if (auth == 0 || auth == 1)
        s.requireAuth = auth == 1;
    s.bindAddress = lines.size() > 4 ? QString::fromLatin1(lines.at(4).trimmed()) : QString();
    s.allowedClients = allowed;
    return true;
}

UserTable parseUsers(const QByteArray &text)
{
    const QList<QByteArray> lines = splitLines(text);
    UserTable users;
    // Line 1 is the count; the rows that follow are what counts.
    for (qsizetype i = 1; i < lines.size(); i += 3) {
        UserAccount u;
        u.name = QString::fromLatin1(lines.at(i));
        if (i + 1 < lines.size())
            u.password = QString::fromLatin1(lines.at(i + 1));
        if (i + 2 < lines.size())
            u.authorization = QString::fromLatin1(lines.at(i + 2));
        users.append(u);
    }
    return users;
}

bool loadSettings(const QString &baseDir, const QString &pageName, ServerSettings &settings, QString &error)
{
    const QString path = settingsPath(baseDir, pageName);
    if (!QFile::exists(path)) {
        const int digit = pageDigit(pageName);
        settings.source = digit;
        settings.enableOnStartup = false;
        settings.listenPort = 80 + digit;
        ServerSettings defaults = settings;
        defaults.requireAuth = false;
        if (!writeFile(path, settingsText(defaults), error))
            return false;
    }
    QByteArray content;
    if (!readFile(path, content, error))
        return false;
    int line = 0;
    if (!parseSettings(content, settings, error, &line)) {
        error = QDir::toNativeSeparators(path) + QStringLiteral(" line ") + QString::number(line) + QStringLiteral(": ")
            + error;
        return false;
    }
    return true;
}

bool loadUsers(const QString &baseDir, const QString &pageName, UserTable &users, QString &error)
{
    const QString path = usersPath(baseDir, pageName);
    if (!QFile::exists(path) && !writeFile(path, QByteArrayLiteral(" 0\r\n"), error))
        return false;
    QByteArray content;
    if (!readFile(path, content, error))
        return false;
    users.append(parseUsers(content));
    return true;
}

bool saveSettings(const QString &baseDir, const QString &pageName, const ServerSettings &settings, QString &error)
{
    return writeFile(settingsPath(baseDir, pageName), settingsText(settings), error);
}

bool saveUsers(const QString &baseDir, const QString &pageName, const UserTable &users, QString &error)
{
    return writeFile(usersPath(baseDir, pageName), usersText(users), error);
}

} // namespace serverfiles
