#include "station/stationlock.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

StationLock::~StationLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool StationLock::acquire(const QString &directory, QString *error)
{
    const QString path = QDir(directory).absoluteFilePath(QLatin1String(kFileName));
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error)
            *error = QStringLiteral("Cannot lock the station directory: %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        char text[32] = {};
        const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
        ::close(fd);
        if (error) {
            if (err != EWOULDBLOCK)
                *error = QStringLiteral("Cannot lock the station directory: %1: %2")
                             .arg(path, QString::fromLocal8Bit(std::strerror(err)));
            else {
                const QString holder = n > 0 ? QString::fromLatin1(text).trimmed() : QString();
                *error = QStringLiteral("Another tolva-server%1 is already running in the station directory %2; "
                                        "this copy stops.")
                             .arg(holder.isEmpty() ? QString() : QStringLiteral(" (process %1)").arg(holder),
                                  QDir(directory).absolutePath());
            }
        }
        return false;
    }
    // The holder's id, for the message a second copy shows.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) != pid.size()) {
        // The lock holds all the same; a second copy's message then names no process.
    }
    m_fd = fd;
    return true;
}
