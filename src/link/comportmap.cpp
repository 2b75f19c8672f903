#include "link/comportmap.h"

#include <QDir>
#include <QFile>

ComPortMap::ComPortMap()
{
    for (int i = 0; i < kPorts; ++i)
        m_paths << defaultPath(i);
}

bool ComPortMap::load(const QString &configDir, QString *error)
{
    const QString path = QDir(configDir).filePath(fileName());
    QFile file(path);
    if (!file.exists()) {
        QByteArray text;
        for (int i = 0; i < kPorts; ++i)
            text += defaultPath(i).toLocal8Bit() + "\r\n";
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
            if (error)
                *error = path + QStringLiteral(": ") + file.errorString();
            return false;
        }
        file.close();
        return true;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    // A settings file of a few lines: anything longer is not ours to read whole.
    const QList<QByteArray> lines = file.read(64 * 1024).split('\n');
    for (int i = 0; i < kPorts; ++i) {
        QByteArray line = i < lines.size() ? lines[i] : QByteArray();
        if (line.endsWith('\r'))
            line.chop(1);
        const QString device = QString::fromLocal8Bit(line).trimmed();
        m_paths[i] = device.isEmpty() ? defaultPath(i) : device;
    }
    return true;
}

QString ComPortMap::devicePath(int port) const
{
    return port >= 0 && port < kPorts ? m_paths[port] : QString();
}

void ComPortMap::setDevicePath(int port, const QString &path)
{
    if (port >= 0 && port < kPorts)
        m_paths[port] = path.isEmpty() ? defaultPath(port) : path;
}
