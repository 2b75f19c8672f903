#pragma once
// One program per station directory: a second copy on the same directory
// would compete for its units, its relay ports and its log files. The lock is
// an flock on a file in the directory, so it goes with the process however
// that ends; the file holds the holder's process id for the message.
#include <QString>

class StationLock {
public:
    static constexpr const char *kFileName = "tolva-server.lock";

    StationLock() = default;
    ~StationLock();
    StationLock(const StationLock &) = delete;
    StationLock &operator=(const StationLock &) = delete;

    // False with the text to show when another process holds the lock, or
    // when the lock file cannot be made.
    bool acquire(const QString &directory, QString *error);
    bool held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};
