#pragma once
// The Log page's engine: plays an ARX measurement log file (109-byte records:
// length byte, 100-byte frame, 8-byte time stamp) back one record at a time
// and offers each played record to the relay servers as source 9, exactly as
// a live connection page would. The file is only ever read.
//
// The 100 ms timer drives tick(); tests stop it and tick by hand.
#include "connection/relaysource.h"
#include "connection/relaystore.h"

#include <QDateTime>
#include <QObject>
#include <memory>

class MessageLog;
class QFile;
class QTimer;

class LogPlayer : public QObject, public RelaySource {
    Q_OBJECT
public:
    static constexpr int kRecordSize = 109;
    static constexpr int kTickMs = 100;
    static constexpr int kPlayTicks = 5; // normal play: one record each 500 ms

    enum class Mode { Paused, Playing, FastForward, Rewinding };

    explicit LogPlayer(MessageLog *log, QObject *parent = nullptr);
    ~LogPlayer() override;

    // Opens the file for reading and shows its first record's place. False
    // with the reason when it cannot be read or holds no whole record; the
    // file played before stays loaded then.
    bool load(const QString &path, QString *error);

    bool isLoaded() const { return m_loaded; }
    QString filePath() const { return m_path; }
    int recordCount() const { return m_count; }
    int position() const { return m_position; }
    int rangeStart() const { return m_rangeStart; }
    int rangeEnd() const { return m_rangeEnd; }
    QDateTime firstTime() const { return m_firstTime; }
    QDateTime lastTime() const { return m_lastTime; }
    QDateTime startPicker() const { return m_startPicker; }
    QDateTime stopPicker() const { return m_stopPicker; }
    Mode mode() const { return m_mode; }
    bool loop() const { return m_loop; }
    int slider() const { return m_slider; }
    bool sliderByPlayback() const { return m_sliderByPlayback; }
    int playTicks() const { return m_playTicks; }
    // The time of the record at the position as last shown; invalid when the
    // record holds no usable time.
    QDateTime shownTime() const { return m_shownTime; }

    // --- the transport buttons -------------------------------------------
    void play() { setMode(Mode::Playing); }
    void fastForward() { setMode(Mode::FastForward); }
    void rewind() { setMode(Mode::Rewinding); }
    void pause() { setMode(Mode::Paused); }
    void toStart();
    void toEnd();
    void setLoop(bool on) { m_loop = on; }

    // The operator moved the slider (0..100) or a picker. A picker's time
    // is snapped into its allowed span; the value taken is returned.
    void sliderChanged(int value);
    QDateTime setStartTime(const QDateTime &t);
    QDateTime setStopTime(const QDateTime &t);
    // The pickers show the time of day only, and a day file runs over
    // midnight (04:00 to 04:00): a time is taken in the file's own order, as
    // the first (start) or last (stop) moment of the file with that time of
    // day; a time the file does not hold is taken on the nearer day and then
    // snapped as above.
    QDateTime setStartTimeOfDay(const QTime &time);
    QDateTime setStopTimeOfDay(const QTime &time);
    QDateTime placeInFile(const QTime &time, bool first) const;

    // One 100 ms step.
    void tick();
    // The timer runs only while there is something to play: an idle player
    // wakes nobody.
    void setTimerRunning(bool on);

    // --- RelaySource: always the ARX family, records only, no commands ----
    int hardwareType() const override { return 0; }
    const RelayStore &relayStore() const override { return m_store; }

signals:
    // Something the page shows changed: labels, pickers, slider, time field, mode.
    void changed();
    // A file failed while playing; the page's error box shows it.
    void errorRaised(const QString &text);

private:
    bool readRecord(int index, QByteArray *record, QString *error);
    static QDateTime stampOf(const QByteArray &record);
    void showRecord(int index);
    bool emitRecord();
    void stepForward();
    void stepBack();
    void setMode(Mode m);
    void fail(const QString &error);

    MessageLog *m_log;
    QTimer *m_timer;
    bool m_timerWanted = true;
    std::unique_ptr<QFile> m_file;
    RelayStore m_store;
    QString m_path;
    bool m_loaded = false;
    int m_count = 0;
    int m_position = 0;
    int m_rangeStart = 0;
    int m_rangeEnd = 0;
    QDateTime m_firstTime, m_lastTime;
    QDateTime m_startPicker, m_stopPicker;
    QDateTime m_shownTime;
    Mode m_mode = Mode::Paused;
    bool m_loop = false;
    int m_slider = 0;
    bool m_sliderByPlayback = false;
    int m_playTicks = 0;
};
