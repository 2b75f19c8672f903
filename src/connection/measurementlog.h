#pragma once
// The measurement log of a connection page. ARX pages write every frame as a
// 109-byte record (length byte, frame text, zero padding) to a file replaced
// each day at 04:00; HD pages write a text file with at most one line a
// second; KF-71 pages only mark the log open; KX-71 pages keep none.
#include "connection/logfilewriter.h"

#include <QDateTime>
#include <QString>
#include <optional>

class MeasurementLog {
public:
    static constexpr int kArxRecordSize = 109;

    explicit MeasurementLog(int pageNumber);
    ~MeasurementLog();

    // Creates the file for the hardware type (an existing one of the same
    // name is replaced). False with the reason when it cannot be created;
    // the log then stays closed.
    bool open(int hardwareType, const QString &directory, const QString &prefix, const QDateTime &now,
              QString *error);
    void close();
    bool isOpen() const { return m_open; }
    double mark() const { return m_mark; }
    QString fileName() const { return m_fileName; }

    // ARX: one frame text (cut to 108 bytes) with its time stamp. Passing
    // 04:00 since the last record starts a new file, named by `now`. False
    // with the reason when the file could not be written or replaced; the
    // log stays open: a failing write (a full disk) is reported once and
    // writing is tried again each minute (see LogFileWriter).
    bool logArxRecord(const QByteArray &frameText, const QDateTime &stamp, const QDateTime &now, bool enabled,
                      QString *error);
    // HD: a line "date,time,peak,average,minimum" when the second of the day
    // changed, the three of the total level samples since the last line
    // (this one's included); without samples the line ends after the time.
    bool logHdLine(const QDateTime &now, std::optional<qint32> sample, bool enabled, QString *error);

    // True once after a write succeeded again following failures.
    bool takeResumed();
    void setWriteFunction(LogFileWriter::WriteFunction f) { m_writer.setWriteFunction(std::move(f)); }

    // "Connect1-Date..12.06.26 Time..14.05.09.LW1" and the like.
    static QString fileNameFor(int hardwareType, int pageNumber, const QString &prefix, const QDateTime &t);
    // The 109 bytes written for a frame text.
    static QByteArray arxRecord(const QByteArray &frameText);

private:
    bool writeAll(const QByteArray &bytes, const QDateTime &now, QString *error);
    bool writeHd(const QByteArray &line, const QDateTime &now, QString *error);

    int m_pageNumber;
    int m_hardwareType = 0;
    QString m_directory, m_prefix, m_fileName;
    LogFileWriter m_writer;
    bool m_resumed = false;
    bool m_open = false;
    bool m_headerPending = false; // HD: the file's header line is not written yet
    double m_mark = 0.0;
    // Total level samples gathered for the next HD line.
    int m_hdCount = 0;
    qint64 m_hdSum = 0;
    qint32 m_hdPeak = 0, m_hdMin = 0;
};
