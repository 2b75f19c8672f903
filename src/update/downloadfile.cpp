#include "update/downloadfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace downloadfile {

QString fullName(const QString &baseDirectory, const QString &relative)
{
    return baseDirectory + QLatin1Char('/') + relative;
}

QString existingFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.isFile())
        return path;
    // Compared name by name: a name filter would take '*' or '[' as patterns.
    const QDir dir = info.dir();
    const QStringList names = dir.entryList(QDir::Files, QDir::Name);
    for (const QString &n : names)
        if (n.compare(info.fileName(), Qt::CaseInsensitive) == 0)
            return dir.filePath(n);
    return QString();
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

File::File() = default;
File::File(std::unique_ptr<QIODevice> device, QString name) : m_device(std::move(device)), m_name(std::move(name)) {}
File::File(File &&) noexcept = default;
File &File::operator=(File &&) noexcept = default;
File::~File() { close(); }

File File::open(const QString &path, const Opener &opener)
{
    std::unique_ptr<QIODevice> device = opener ? opener(path) : downloadfile::open(path);
    if (!device)
        return File();
    return File(std::move(device), path);
}

LineRead File::readLine(QByteArray *line)
{
    return m_device ? downloadfile::readLine(*m_device, line) : LineRead::Broken;
}

bool File::readInteger(qint32 *value)
{
    return m_device && downloadfile::readInteger(*m_device, value);
}

void File::close()
{
    if (m_device) {
        m_device->close();
        m_device.reset();
    }
}

bool readHead(File &file, int versionLines, Head *head)
{
    Head h;
    if (!file.readInteger(&h.count))
        return false;
    QByteArray *lines[] = {&h.version1, &h.version2};
    for (int i = 0; i < versionLines && i < 2; ++i)
        if (file.readLine(lines[i]) != LineRead::Ok)
            return false;
    *head = h;
    return true;
}

} // namespace downloadfile
