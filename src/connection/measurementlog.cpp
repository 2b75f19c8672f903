#include "connection/measurementlog.h"

#include "connection/connectionrecord.h"
#include "core/datetime.h"

#include <QDir>
#include <cmath>

MeasurementLog::MeasurementLog(int pageNumber) : m_pageNumber(pageNumber) {}

MeasurementLog::~MeasurementLog() = default;

QString MeasurementLog::fileNameFor(int hardwareType, int pageNumber, const QString &prefix, const QDateTime &t)
{
    const QString extension = hardwareType == hardware::Hd ? QStringLiteral(".TXT")
                                                           : QStringLiteral(".LW") + QString::number(pageNumber);
    return prefix + datetime::logFileStamp(t) + extension;
}

QByteArray MeasurementLog::arxRecord(const QByteArray &frameText)
{
    const QByteArray text = frameText.left(108);
    QByteArray record(kArxRecordSize, '\0');
    record[0] = char(text.size());
    std::copy(text.begin(), text.end(), record.begin() + 1);
    return record;
}

static double fraction(double days)
{
    return days - std::floor(days);
}

bool MeasurementLog::open(int hardwareType, const QString &directory, const QString &prefix, const QDateTime &now,
                          QString *error)
{
    close();
    m_hardwareType = hardwareType;
    m_directory = directory;
    m_prefix = prefix;
    switch (hardwareType) {
    case hardware::Kf71:
        m_open = true;
        return true;
    case hardware::Kx71:
        return true;
    default:
        break;
    }
    // The directory is taken as given and joined with one separator, so the
    // default ".../LOG/" gives a doubled one, which the file system accepts.
    m_fileName = directory + QLatin1Char('/') + fileNameFor(hardwareType, m_pageNumber, prefix, now);
    if (!m_writer.open(m_fileName, error))
        return false;
    m_open = true;
    m_hdCount = 0;
    m_hdSum = 0;
    if (hardwareType == hardware::Hd) {
        m_mark = now.time().hour();
        m_headerPending = true;
        return writeHd(QByteArray(), now, error);
    }
    m_mark = fraction(datetime::toDays(now) - 1.0 / 6.0);
    return true;
}

void MeasurementLog::close()
{
    m_writer.close();
    m_open = false;
}

bool MeasurementLog::writeAll(const QByteArray &bytes, const QDateTime &now, QString *error)
{
    switch (m_writer.write(bytes, now, error)) {
    case LogFileWriter::Outcome::Failed:
        return false;
    case LogFileWriter::Outcome::Resumed:
        m_resumed = true;
        return true;
    default:
        return true;
    }
}

bool MeasurementLog::writeHd(const QByteArray &line, const QDateTime &now, QString *error)
{
    // A file created on a full disk has no header yet: the first line that
    // gets written carries it, so a resumed file still starts with one.
    static const QByteArray header = "DATE,TIME,TOTAL PEAK,TOTAL AVE,TOTAL MIN\r\n";
    const qint64 before = m_writer.size();
    const bool ok = writeAll(m_headerPending ? header + line : line, now, error);
    if (m_writer.size() > before)
        m_headerPending = false;
    return ok;
}

bool MeasurementLog::takeResumed()
{
    const bool r = m_resumed;
    m_resumed = false;
    return r;
}

bool MeasurementLog::logArxRecord(const QByteArray &frameText, const QDateTime &stamp, const QDateTime &now,
                                  bool enabled, QString *error)
{
    const double d = fraction(datetime::toDays(stamp) - 1.0 / 6.0);
    const QByteArray record = arxRecord(frameText);
    bool ok = true;
    if (d < m_mark && m_open) {
        // 04:00 has passed since the last record: a new file for the new day.
        close();
        ok = open(m_hardwareType, m_directory, m_prefix, now, error);
    }
    if (ok && enabled && m_open)
        ok = writeAll(record, now, error);
    m_mark = d;
    return ok;
}

bool MeasurementLog::logHdLine(const QDateTime &now, std::optional<qint32> sample, bool enabled, QString *error)
{
    if (sample) {
        m_hdPeak = m_hdCount == 0 ? *sample : qMax(m_hdPeak, *sample);
        m_hdMin = m_hdCount == 0 ? *sample : qMin(m_hdMin, *sample);
        m_hdSum += *sample;
        ++m_hdCount;
    }
    const int s = now.time().msecsSinceStartOfDay() / 1000;
    bool ok = true;
    if (s == int(m_mark))
        return ok;
    if (enabled && m_open) {
        QByteArray line = now.date().toString(QStringLiteral("M/d/yyyy")).toLatin1() + ','
            + now.time().toString(QStringLiteral("HH:mm:ss")).toLatin1();
        if (m_hdCount > 0)
            line += ',' + QByteArray::number(m_hdPeak) + ','
                + QByteArray::number(double(m_hdSum) / m_hdCount, 'f', 1) + ',' + QByteArray::number(m_hdMin);
        ok = writeHd(line + "\r\n", now, error);
    }
    m_hdCount = 0;
    m_hdSum = 0;
    m_mark = s;
    return ok;
}
