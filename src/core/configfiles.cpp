#include "core/configfiles.h"

#include <QDir>
#include <QFile>

namespace configfiles {

namespace {

bool fits(QChar c)
{
    return c.unicode() <= 0xFF && c != QLatin1Char('\r') && c != QLatin1Char('\n');
}

constexpr QFileDevice::Permissions kOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
    | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

} // namespace

bool storable(const QString &text)
{
    for (QChar c : text)
        if (!fits(c))
            return false;
    return true;
}

QString unstorable(const QString &text)
{
    QString out;
    for (QChar c : text)
        if (!fits(c) && !out.contains(c))
            out += c;
    return out;
}

bool restrictToOwner(const QString &path, QString *error)
{
    if (error)
        error->clear();
    QFile file(path);
    const QFileDevice::Permissions now = file.permissions();
    if (!(now & kOthers))
        return false;
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        if (error)
            *error = QStringLiteral("Cannot make ") + QDir::toNativeSeparators(path)
                + QStringLiteral(" readable by its owner only: ") + file.errorString();
        return false;
    }
    return true;
}

void restrictAll(const QStringList &paths, QStringList *fixed, QStringList *failed)
{
    for (const QString &path : paths) {
        if (!QFile::exists(path))
            continue;
        QString error;
        if (restrictToOwner(path, &error)) {
            if (fixed)
                *fixed << QDir::toNativeSeparators(path)
                        + QStringLiteral(" could be read by other users of this computer; it is now readable by "
                                         "its owner only");
        } else if (!error.isEmpty() && failed) {
            *failed << error;
        }
    }
}

} // namespace configfiles
