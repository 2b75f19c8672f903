#include "core/keyvaluefile.h"

#include <QFile>
#include <QStringList>

namespace keyvalue {

namespace {
QString at(const QString &path, int line)
{
    return path + QStringLiteral(" line ") + QString::number(line) + QStringLiteral(": ");
}
} // namespace

bool parse(const QByteArray &text, const QString &path, const QStringList &known, File &out, QString *error)
{
    out.path = path;
    out.entries.clear();
    auto fail = [&](int line, const QString &why) {
        if (error)
            *error = at(path, line) + why;
        return false;
    };
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        QByteArray raw = lines[i];
        if (raw.endsWith('\r'))
            raw.chop(1);
        const QString line = QString::fromUtf8(raw);
        if (line.contains(QChar::ReplacementCharacter))
            return fail(number, QStringLiteral("not UTF-8 text"));
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = trimmed.indexOf(QLatin1Char('='));
        if (eq < 0)
            return fail(number, QStringLiteral("expected \"key = value\""));
        const QString key = trimmed.left(eq).trimmed();
        QString value = trimmed.mid(eq + 1).trimmed();
        if (!known.contains(key))
            return fail(number, QStringLiteral("unknown key \"%1\"").arg(key.left(40)));
        if (out.entries.contains(key))
            return fail(number, QStringLiteral("\"%1\" given twice").arg(key));
        for (const QChar c : value)
            if (c.unicode() < 0x20)
                return fail(number, QStringLiteral("control character in the value"));
        out.entries.insert(key, Entry{value, number});
    }
    return true;
}

bool readBounded(const QString &path, qint64 maxBytes, QByteArray &text, QString *error)
{
    text.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    text = file.read(maxBytes + 1);
    // A file cut off by a read error or the bound is no file at all: what
    // follows the cut would be lost at the next save.
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        text.clear();
        return false;
    }
    if (text.size() > maxBytes) {
        if (error)
            *error = path + QStringLiteral(": larger than %1 bytes").arg(maxBytes);
        text.clear();
        return false;
    }
    return true;
}

bool read(const QString &path, const QStringList &known, File &out, QString *error)
{
    out = File{path, {}};
    if (!QFile::exists(path))
        return true;
    QByteArray text;
    return readBounded(path, kMaxFileBytes, text, error) && parse(text, path, known, out, error);
}

QString where(const File &f, const QString &key)
{
    return at(f.path, f.entries.value(key).line);
}

bool readBool(const File &f, const QString &key, bool &value, QString *error)
{
    const auto it = f.entries.constFind(key);
    if (it == f.entries.cend())
        return true;
    if (it->value == QLatin1String("0") || it->value == QLatin1String("1")) {
        value = it->value == QLatin1String("1");
        return true;
    }
    if (error)
        *error = where(f, key) + QStringLiteral("%1 must be 0 or 1").arg(key);
    return false;
}

bool readInt(const File &f, const QString &key, int min, int max, int &value, QString *error)
{
    const auto it = f.entries.constFind(key);
    if (it == f.entries.cend())
        return true;
    bool ok = false;
    const int v = it->value.toInt(&ok);
    if (ok && v >= min && v <= max) {
        value = v;
        return true;
    }
    if (error)
        *error = where(f, key) + QStringLiteral("%1 must be a number from %2 to %3").arg(key).arg(min).arg(max);
    return false;
}

bool readText(const File &f, const QString &key, QString &value)
{
    const auto it = f.entries.constFind(key);
    if (it != f.entries.cend())
        value = it->value;
    return true;
}

} // namespace keyvalue
