#include "playback/logplayer.h"

#include "core/datetime.h"
#include "core/messagelog.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {

const QString kSource = QStringLiteral("Log1");

// Delphi-style rounding: to nearest, halves to even.
int roundEven(double v)
{
    return int(std::nearbyint(v));
}

double days(const QDateTime &t)
{
    return datetime::toDays(t);
}

} // namespace

LogPlayer::LogPlayer(MessageLog *log, QObject *parent) : QObject(parent), m_log(log), m_timer(new QTimer(this))
{
    setObjectName(kSource);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(kTickMs);
    connect(m_timer, &QTimer::timeout, this, &LogPlayer::tick);
    m_timer->start();
}

LogPlayer::~LogPlayer() = default;

void LogPlayer::setTimerRunning(bool on)
{
    m_timerWanted = on;
    if (on)
        m_timer->start();
    else
        m_timer->stop();
}

QDateTime LogPlayer::stampOf(const QByteArray &record)
{
    const double d = datetime::decodeStamp(record.mid(101, 8));
    // The file is outside bytes: a stamp that is no date is shown as none.
    if (!std::isfinite(d) || d < 1.0 || d >= 2958466.0)
        return QDateTime();
    return datetime::fromDays(d);
}

bool LogPlayer::readRecord(int index, QByteArray *record, QString *error)
{
    if (!m_file || index < 0 || index >= m_count || !m_file->seek(qint64(index) * kRecordSize)) {
        if (error)
            *error = m_path + QStringLiteral(": Read beyond end of file");
        return false;
    }
    *record = m_file->read(kRecordSize);
    if (record->size() != kRecordSize) {
        if (error)
            *error = m_path + QStringLiteral(": ")
                + (m_file->error() != QFileDevice::NoError ? m_file->errorString()
                                                           : QStringLiteral("Read beyond end of file"));
        return false;
    }
    return true;
}

bool LogPlayer::load(const QString &path, QString *error)
{
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        if (error)
            *error = path + QStringLiteral(": ") + file->errorString();
        return false;
    }
    const qint64 size = file->size();
    const qint64 count = size / kRecordSize;
    if (count == 0) {
        if (error)
            *error = path + QStringLiteral(": Read beyond end of file");
        return false;
    }
    if (count > qint64(INT_MAX)) {
        if (error)
            *error = path + QStringLiteral(": File too large");
        return false;
    }

    std::unique_ptr<QFile> previous = std::move(m_file);
    const QString previousPath = m_path;
    const int previousCount = m_count;
    m_file = std::move(file);
    m_path = path;
    m_count = int(count);
    QByteArray first, last;
    QString reason;
    if (!readRecord(0, &first, &reason) || !readRecord(m_count - 1, &last, &reason)) {
        m_file = std::move(previous);
        m_path = previousPath;
        m_count = previousCount;
        if (error)
            *error = reason;
        return false;
    }

    m_firstTime = stampOf(first);
    m_lastTime = stampOf(last);
    m_startPicker = m_firstTime;
    m_stopPicker = m_lastTime;
    m_position = 0;
    m_rangeStart = 0;
    m_rangeEnd = m_count - 1;
    m_loaded = true;
    m_mode = Mode::Paused;
    m_playTicks = 0;
    m_slider = 0;
    m_sliderByPlayback = false;
    m_shownTime = m_firstTime;
    const qint64 rest = size % kRecordSize;
    if (rest != 0 && m_log)
        m_log->log(kSource,
                   QStringLiteral(" Log file %1: the last %2 bytes are not a whole record and are not played")
                       .arg(QFileInfo(path).fileName())
                       .arg(rest),
                   LogLevel::Status);
    emit changed();
    return true;
}

void LogPlayer::fail(const QString &error)
{
    m_mode = Mode::Paused;
    if (m_log)
        m_log->log(kSource, QStringLiteral(" Log file error: ") + error, LogLevel::Error);
    emit errorRaised(error);
}

void LogPlayer::showRecord(int index)
{
    QByteArray record;
    QString error;
    if (!readRecord(index, &record, &error)) {
        fail(error);
        return;
    }
    m_shownTime = stampOf(record);
}

bool LogPlayer::emitRecord()
{
    QByteArray record;
    QString error;
    if (!readRecord(m_position, &record, &error)) {
        fail(error);
        return false;
    }
    m_shownTime = stampOf(record);
    const int span = m_rangeEnd - m_rangeStart;
    m_slider = span == 0 ? 0 : roundEven(double(m_position - m_rangeStart) / span * 100.0);
    m_sliderByPlayback = true;
    // The record text is as many bytes as its length byte says, at most the
    // 108 that follow it.
    const int length = qMin(int(quint8(record.at(0))), kRecordSize - 1);
    m_store.fileRecord(RecordKind::Arx, record.mid(1, length));
    return true;
}

void LogPlayer::stepForward()
{
    ++m_position;
    if (m_position > m_rangeEnd) {
        if (m_loop) {
            m_position = m_rangeStart;
        } else {
            m_position = m_rangeEnd;
            m_mode = Mode::Paused;
        }
    } else if (m_position < m_rangeStart) {
        m_position = m_rangeStart;
    }
}

void LogPlayer::stepBack()
{
    --m_position;
    if (m_position < m_rangeStart) {
        if (m_loop) {
            m_position = m_rangeEnd;
        } else {
            m_position = m_rangeStart;
            m_mode = Mode::Paused;
        }
    } else if (m_position > m_rangeEnd) {
        m_position = m_rangeEnd;
    }
}

void LogPlayer::tick()
{
    if (!m_loaded || m_mode == Mode::Paused) {
        m_timer->stop(); // started again by the next play, rewind or fast forward
        return;
    }
    if (m_mode == Mode::Playing && ++m_playTicks < kPlayTicks)
        return;
    if (emitRecord()) {
        if (m_mode == Mode::Rewinding)
            stepBack();
        else
            stepForward();
    }
    m_playTicks = 0;
    emit changed();
}

void LogPlayer::setMode(Mode m)
{
    m_mode = m;
    if (m != Mode::Paused && m_timerWanted && !m_timer->isActive())
        m_timer->start();
    emit changed();
}

void LogPlayer::toStart()
{
    if (!m_loaded)
        return;
    showRecord(0);
    m_slider = 0;
    m_position = 0;
    m_rangeStart = 0;
    m_startPicker = m_firstTime;
    emit changed();
}

void LogPlayer::toEnd()
{
    if (!m_loaded)
        return;
    showRecord(m_count - 1);
    m_position = m_count - 1;
    m_rangeEnd = m_count - 1;
    m_slider = 100;
    m_stopPicker = m_lastTime;
    emit changed();
}

void LogPlayer::sliderChanged(int value)
{
    m_slider = qBound(0, value, 100);
    if (m_sliderByPlayback) {
        m_sliderByPlayback = false;
    } else if (m_loaded) {
        m_position = m_rangeStart + roundEven(m_slider / 100.0 * (m_rangeEnd - m_rangeStart));
    }
    if (m_loaded)
        showRecord(m_position);
    emit changed();
}

QDateTime LogPlayer::setStartTime(const QDateTime &t)
{
    if (!m_loaded || !t.isValid())
        return m_startPicker;
    QDateTime start = t;
    if (m_firstTime.isValid() && start < m_firstTime)
        start = m_firstTime;
    if (m_stopPicker.isValid() && start > m_stopPicker)
        start = m_stopPicker;
    m_startPicker = start;
    // Records taken as evenly spaced between the file's first and last
    // stamps; with no span between them the range stays as it is.
    if (m_firstTime.isValid() && m_lastTime.isValid()) {
        const double span = days(m_lastTime) - days(m_firstTime);
        if (span > 0)
            m_rangeStart = qBound(0, roundEven((days(start) - days(m_firstTime)) * (m_count - 1) / span), m_count - 1);
    }
    emit changed();
    return m_startPicker;
}

QDateTime LogPlayer::setStopTime(const QDateTime &t)
{
    if (!m_loaded || !t.isValid())
        return m_stopPicker;
    QDateTime stop = t;
    if (m_lastTime.isValid() && stop > m_lastTime)
        stop = m_lastTime;
    if (m_startPicker.isValid() && stop < m_startPicker)
        stop = m_startPicker;
    m_stopPicker = stop;
    if (m_firstTime.isValid() && m_lastTime.isValid()) {
        const double span = days(m_lastTime) - days(m_firstTime);
        if (span > 0)
            m_rangeEnd =
                qBound(0, roundEven((1.0 - (days(m_lastTime) - days(stop)) / span) * (m_count - 1)), m_count - 1);
    }
    emit changed();
    return m_stopPicker;
}

QDateTime LogPlayer::placeInFile(const QTime &time, bool first) const
{
    if (!time.isValid() || !m_firstTime.isValid() || !m_lastTime.isValid())
        return {};
    // The days around both ends: all a day file can hold, and a bounded
    // search whatever stamps a damaged file holds.
    QList<QDate> dates;
    for (const QDate &end : {m_firstTime.date(), m_lastTime.date()})
        for (int d = -1; d <= 1; ++d)
            if (!dates.contains(end.addDays(d)))
                dates << end.addDays(d);
    std::sort(dates.begin(), dates.end());
    QDateTime best;
    qint64 bestDistance = -1;
    for (const QDate &date : dates) {
        const QDateTime t(date, time, m_firstTime.timeSpec());
        const qint64 distance = t < m_firstTime ? t.msecsTo(m_firstTime) : t > m_lastTime ? m_lastTime.msecsTo(t) : 0;
        // Inside the file: the first such moment for a start, the last for a stop.
        if (bestDistance < 0 || distance < bestDistance || (distance == 0 && !first)) {
            best = t;
            bestDistance = distance;
        }
    }
    return best;
}

QDateTime LogPlayer::setStartTimeOfDay(const QTime &time)
{
    return setStartTime(placeInFile(time, true));
}

QDateTime LogPlayer::setStopTimeOfDay(const QTime &time)
{
    return setStopTime(placeInFile(time, false));
}
