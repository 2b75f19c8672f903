#pragma once
// Loading new firmware into an HD, KH-71 or KF-71 unit, or into the network
// module behind a KH-71 or KF-71: wake the unit's loader, announce the
// program, send the download file line by line against the unit's checksum
// answers, follow the unit's erase/flash/verify/micro work, wait out its
// restart, and reconnect. The machine runs as the page's session (an
// UpdateSession, one step per page tick) from start() until it hands the
// page back to a fresh unit session; the four machines differ only in the
// data of their step tables.
#include "update/downloadfile.h"

#include <QObject>
#include <QString>

#include <array>

class ConnectionPage;
class SessionHost;
class UpdateSession;

class UpdateMachine : public QObject {
    Q_OBJECT
public:
    enum class Kind { Hd, Kh71, Kf71, Network };

    static constexpr int kFailStep = 99;
    // Phases of the HD and KF-71 sessions that run this machine.
    static constexpr int kEepromPhase = 3;
    static constexpr int kNetworkPhase = 5;

    explicit UpdateMachine(SessionHost &page, QObject *parent = nullptr);
    ~UpdateMachine() override;
    // The machine of a page (made on first use; its download file stays with it).
    static UpdateMachine &of(ConnectionPage &page);

    // Starts on the page, whose session it becomes: `file` is open past its
    // head, `recordCount` is its line 1; `serialDigits` (hundreds, tens,
    // units) only for the HD machine.
    void start(Kind kind, downloadfile::File file, qint32 recordCount, std::array<int, 3> serialDigits = {});
    // A fault found by the dialog: the failure step runs on the next tick.
    void abort(Kind kind);
    void tick();

    Kind kind() const { return m_kind; }
    int step() const { return m_step; }
    bool running() const { return m_running; }
    int tickCount() const { return m_tickCount; }
    int linesSent() const { return m_linesSent; }
    int badChecksums() const { return m_badChecksums; }

    // What the dialog shows.
    int progress() const { return m_progress; }
    const QString &statusText() const { return m_status; }
    const QString &countText() const { return m_countText; }
    const QString &badChecksumText() const { return m_badText; }

    // Numbers right-aligned in `width` characters; too wide: `width` asterisks.
    static QString field(qint64 n, int width);

    struct Step; // one entry of a machine's table (updatemachine.cpp)
    struct Traits;

signals:
    // Progress, status, count or bad-checksum text changed.
    void feedbackChanged();
    // The dialog closes: OK on success, Cancel on failure; `errorBox` is a
    // text the operator must acknowledge (bad checksums), else empty.
    void finished(bool ok, const QString &errorBox);

private:
    void runStep(const Step &s);
    void wake(const Step &s);
    void announce();
    void awaitReady(const Step &s);
    void beginDownload();
    void sendLine(const Step &s);
    void awaitLineAnswer(const Step &s);
    void beginWork(const Step &s);
    void awaitWork(const Step &s);
    void awaitSuccess(const Step &s);
    void fixedWait(const Step &s);
    void beginUnitWork(const Step &s, const char *command);
    void succeed();
    void failStep();
    void failWith(const QString &message);
    void switchToFastBaud();
    void runAsSession();
    void handBack(bool reconnect);

    void setProgress(int percent);
    void setStatus(const QString &text);
    void showCount();
    void showBadChecksums();
    QByteArray announcement() const;
    // A complete reply read with the CR reader, or nothing yet.
    bool readReply(QByteArray *reply);

    friend class UpdateSession;

    SessionHost &m_page;
    UpdateSession *m_session = nullptr; // running in the page, or none
    Kind m_kind = Kind::Kh71;
    const Traits *m_traits;
    bool m_running = false;
    int m_step = 0;
    int m_tickCount = 0;
    int m_linesSent = 0;
    int m_dataLines = 0;
    int m_badChecksums = 0;
    int m_progressCount = 0;
    bool m_sendNext = true;
    bool m_serialPending = false;
    bool m_dialogClosed = false;
    QByteArray m_line;
    int m_savedInterval = 125;
    qint32 m_recordCount = 0;
    std::array<int, 3> m_serialDigits{};
    downloadfile::File m_file;

    int m_progress = 0;
    QString m_status, m_countText, m_badText;
};
