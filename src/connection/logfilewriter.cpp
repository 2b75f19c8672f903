#include "connection/logfilewriter.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString reason(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

} // namespace

LogFileWriter::LogFileWriter() : m_write([](int fd, const void *data, size_t size) { return ::write(fd, data, size); })
{
}

LogFileWriter::~LogFileWriter()
{
    close();
}

bool LogFileWriter::open(const QString &path, QString *error)
{
    close();
    m_path = path;
    m_fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        if (error)
            *error = path + QStringLiteral(": ") + reason(errno);
        return false;
    }
    return true;
}

void LogFileWriter::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_size = 0;
    m_failing = false;
    m_retryAt = QDateTime();
}

LogFileWriter::Outcome LogFileWriter::write(const QByteArray &record, const QDateTime &now, QString *error)
{
    if (m_fd < 0)
        return Outcome::Written; // nothing open: nothing to do, nothing lost here
    if (m_failing && now < m_retryAt)
        return Outcome::Suspended;
    qint64 done = 0;
    int err = 0;
    while (done < record.size()) {
        const ssize_t n = m_write(m_fd, record.constData() + done, size_t(record.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            err = n < 0 ? errno : ENOSPC;
            break;
        }
    }
    if (done == record.size()) {
        m_size += done;
        if (!m_failing)
            return Outcome::Written;
        m_failing = false;
        return Outcome::Resumed;
    }
    // A torn record would shift every later one: cut back to the last whole record.
    if (done > 0 && (::ftruncate(m_fd, m_size) != 0 || ::lseek(m_fd, m_size, SEEK_SET) != m_size)) {
        // Cannot cut back: stop writing into this file rather than misalign it.
        ::close(m_fd);
        m_fd = -1;
    }
    m_retryAt = now.addMSecs(kRetryMs);
    if (m_failing)
        return Outcome::Suspended;
    m_failing = true;
    if (error)
        *error = m_path + QStringLiteral(": ") + reason(err);
    return Outcome::Failed;
}
