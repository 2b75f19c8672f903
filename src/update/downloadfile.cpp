#include "update/downloadfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace downloadfile {

QString existingFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.isFile())
        return path;
    const QDir dir = info.dir();
    const QStringList matches = dir.entryList({info.fileName()}, QDir::Files);
    return matches.isEmpty() ? QString() : dir.filePath(matches.first());
}

std::unique_ptr<QIODevice> open(const QString &wanted)
{
    const QString path = existingFile(wanted);
    if (path.isEmpty())
        return nullptr;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly))
        return nullptr;
    return file;
}

LineRead readLine(QIODevice &file, QByteArray *line, int maxLength)
{
    if (file.atEnd())
        return LineRead::End;
    QByteArray bytes = file.readLine(maxLength + 2);
    if (bytes.isEmpty())
        return LineRead::Broken; // not at the end, yet nothing could be read
    const bool ended = bytes.endsWith('\n');
    if (!ended && !file.atEnd())
        return LineRead::Broken; // over-long line, or the read stopped short
    while (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    if (bytes.size() > maxLength)
        return LineRead::Broken;
    *line = bytes;
    return LineRead::Ok;
}

bool leadingInteger(const QByteArray &line, qint32 *value)
{
    qsizetype i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    const qsizetype start = i;
    if (i < line.size() && (line[i] == '-' || line[i] == '+'))
        ++i;
    const qsizetype digits = i;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9')
        ++i;
    if (i == digits || i - digits > 10)
        return false;
    bool ok = false;
    const qint64 n = line.mid(start, i - start).toLongLong(&ok);
    if (!ok || n < -2147483648LL || n > 2147483647LL)
        return false;
    *value = qint32(n);
    return true;
}

bool readInteger(QIODevice &file, qint32 *value)
{
    QByteArray line;
    return readLine(file, &line) == LineRead::Ok && leadingInteger(line, value);
}

} // namespace downloadfile
