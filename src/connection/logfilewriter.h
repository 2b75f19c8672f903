#pragma once
// A log file written in whole records: a write that fails partway (a full
// disk) is cut back to the last whole record, the failure is reported once
// with the system's reason, and writing is tried again once a minute until it
// succeeds. Records arriving meanwhile are not written.
#include <QDateTime>
#include <QString>
#include <functional>
#include <sys/types.h>

class LogFileWriter {
public:
    static constexpr qint64 kRetryMs = 60000;
    // The system call, replaceable so that tests can fill the disk.
    using WriteFunction = std::function<ssize_t(int fd, const void *data, size_t size)>;

    enum class Outcome {
        Written,   // the record is in the file
        Failed,    // not written; first failure of an episode: report `error`
        Suspended, // not written; failing since an earlier record, not retried yet
        Resumed,   // written, after an episode of failures: report the resumption
    };

    LogFileWriter();
    ~LogFileWriter();
    LogFileWriter(const LogFileWriter &) = delete;
    LogFileWriter &operator=(const LogFileWriter &) = delete;

    // Creates (or empties) the file. False with "<path>: <reason>".
    bool open(const QString &path, QString *error);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    bool failing() const { return m_failing; }
    qint64 size() const { return m_size; }

    Outcome write(const QByteArray &record, const QDateTime &now, QString *error);

    void setWriteFunction(WriteFunction f) { m_write = std::move(f); }

private:
    int m_fd = -1;
    QString m_path;
    qint64 m_size = 0; // bytes of whole records in the file
    bool m_failing = false;
    QDateTime m_retryAt;
    WriteFunction m_write;
};
