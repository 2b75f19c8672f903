#pragma once
// The session of a page whose hardware is an Arxon system: wait for the link,
// dial when it is a modem, detect and log in to the unit (or to the relay
// server of another station), load the module program when the unit asks for
// it, then poll every half second and cut the answers into data frames.
// The password change runs in between as phase 5.
#include "connection/session.h"
#include "protocols/framecutter.h"

#include <QDateTime>

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

class ArxDecoder;
class ModemDialler;
class PasswordChange;
class QIODevice;

class ArxSession : public Session {
public:
    // Bytes of unframed input kept at most: a far end sending noise cannot grow memory.
    static constexpr int kFrameTextLimit = 64 * 1024;
    // A download line longer than this is not a program record: the file is broken.
    static constexpr int kMaxDownloadLine = 4096;
    static constexpr int kUnitFrameSize = 100;
    static constexpr int kRelayFrameSize = 108;
    static constexpr int kSerialFrameRead = 1024;
    // Half a second in days, the poll period.
    static constexpr double kPollPeriod = 5.787037e-6;
    // A polled unit that sends no frame for this long is reported once.
    static constexpr qint64 kSilenceAlarmMs = 30000;
    // A unit answers a poll with whole frames: a partial frame followed by
    // two seconds of silence (four poll periods) is the rest of a frame that
    // will never come.
    static constexpr qint64 kStaleFrameMs = 2000;

    using DownloadOpener = std::function<std::unique_ptr<QIODevice>(const QString &path)>;

    explicit ArxSession(SessionHost &page);
    ~ArxSession() override;

    void tick() override;
    void onSocketRead() override;
    qint64 quietMs() const override;
    void disconnectButton() override;
    void linkOpening() override;
    QList<HardwareRow> hardwareRows() const override;
    static FrameFormat frameFormat(bool viaRelay);
    // Received, not yet cut into frames.
    const FrameCutter &frameCutter() const { return m_cutter; }
    void startPasswordChange() override;

    // The new password confirmed in the change-password dialog.
    void setNewPassword(const QByteArray &password) override;

    // Where a model's program lies: <base>/DLD/<id>.DLD.
    static QString downloadPath(const QString &baseDirectory, const QByteArray &modelId);
    // Opening the download file; tests put a device of their own here.
    void setDownloadOpener(DownloadOpener opener) { m_openDownload = std::move(opener); }

    const ArxDecoder &decoder() const { return *m_decoder; }
    int amSubType() const { return m_amSubType; }
    int linesSent() const { return m_linesSent; }
    int badChecksums() const { return m_badChecksums; }
    quint16 downloadValue() const { return m_downloadValue; }
    const ModemDialler &dialler() const { return *m_dialler; }

private:
    // arxsession.cpp
    void waitForLink();
    void pollStep(double now); // now: time of day, in days
    void watchSilence(qint64 nowMs);
    void receiveStep(qint64 nowMs);
    void useFormat(bool viaRelay);
    void frameStep(const QByteArray &frame);
    void decode();

    // arxdetect.cpp
    void detectStep();
    void passwordPromptStep();
    void levelStep();
    void identifyStep();
    bool identifyModel(const QByteArray &answer); // true: the download check is needed
    void startDownloadCheck(const QByteArray &answer);
    void checkStep(bool final);
    void sendLineStep();
    void lineAnswerStep();
    void fail(const QString &message, bool restoreInterval = false);
    void closeDownload();

    FrameCutter m_cutter;
    std::unique_ptr<ArxDecoder> m_decoder;
    std::unique_ptr<ModemDialler> m_dialler;
    std::unique_ptr<PasswordChange> m_passwordChange;

    DownloadOpener m_openDownload;
    std::unique_ptr<QIODevice> m_download;
    quint16 m_downloadValue = 0;
    QByteArray m_downloadLine;
    int m_linesSent = 0;
    int m_badChecksums = 0;
    bool m_nextLine = true;

    double m_pollLast = 0.0;    // time of day of the last poll step, in days
    qint64 m_lastFrameMs = -1;  // last frame while polling; -1 outside phase 4
    int m_format = -1;          // the cutter's format: 0 unit frames, 1 relay records
    bool m_silenceReported = false;
    double m_pollElapsed = 0.0; // days since the last poll byte
    int m_amSubType = 0;
};
