// The line-protocol units as the server meets them on the wire: a KH-71
// (with or without LCD), a KH-72 or a KF-71. Commands are text lines ended by
// CR; answers are text lines ended by CR; after "SD" the unit streams
// 1501-byte frames until "HD" or "EC". An announced program goes to the
// unit's loader (hdloader.h); the unit then reports what was loaded.
#pragma once

#include "hdloader.h"
#include "unit.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <functional>
#include <memory>

class QTimer;

namespace hdsim {

class FrameSource;

enum class Model { Kh71, Kh72, Kf71 };
enum class Login {
    Prompt,  // "SC" -> "PASSWORD", then the password alone
    SPrompt, // "SC" -> "SPASSWORD", then "SP" + password
    Open,    // "SC" -> "VALID <level>" at once
};

struct LineOptions {
    Model model = Model::Kh71;
    bool lcd = true;                         // KH-71 only
    char lcdType = '2';                      // KH-71: hex digit after "LCD("
    bool completeOption = true;              // KF-71: OPT(1), else OPT(0)
    QByteArray serial;                       // empty: the model's default
    QByteArray software;                     // text in "SW(...)"; empty: the model's default
    QByteArray lan;                          // text in "LAN(...)"; empty: 6.5.0.7
    QByteArray ident;                        // whole identification line; empty: built
    Login login = Login::Prompt;
    int openLevel = 3;                       // level of Login::Open
    QList<QPair<QByteArray, int>> passwords; // text, level granted
    int rate = 4;                            // frames per second
    int noiseEvery = 0;                      // stray bytes before every n-th frame
    bool stamp = false;                      // 8-byte time stamp after each frame
    int traceFramesEvery = 1;                // FRAME lines in the trace (0 = none)
    int replyDelayMs = 0;
    bool silent = false;
    int pauseAfterS = 0, pauseForS = 0;      // data stops for a while, the line stays up
    int alarmChangeAt = 0, alarmBackAt = 0;  // frame numbers; 0 = never
    LoaderOptions loader;                    // its flavour follows the model
};

// "kh71", "kh72", "kf71" -> true and the model.
bool lineUnitKind(const QString &kind, Model *model);
// Options of these units; `value` takes the option's argument. Returns false
// when `option` is not one of them; `error` is set for a bad value.
bool takeOption(const QString &option, const std::function<QString()> &value, LineOptions *o, QString *error);
// The --help section for these units.
const char *helpSection();
// The identification line the unit answers to "UI".
QByteArray identLine(const LineOptions &o);

class LineUnit : public Unit
{
    Q_OBJECT
public:
    LineUnit(const LineOptions &options, QObject *parent = nullptr);
    ~LineUnit() override;

    void receive(const QByteArray &bytes) override;
    void linkUp() override;
    void linkDown() override;

private:
    void handle(const QByteArray &line);
    void password(const QByteArray &line);
    void checked(const QByteArray &line);
    void startData();
    void stopData(const QString &why);
    void sendFrame();
    void replyLine(const QByteArray &text, const QString &name) { reply(text + '\r', name); }
    void resetSession();
    QString familyName() const;
    void programLoaded(const QByteArray &version, const QByteArray &serialDigits);
    void moduleLoading(const QByteArray &version, int ms);

    LineOptions opt_;
    std::unique_ptr<FrameSource> frames_;
    Loader *loader_;
    QTimer *timer_;
    int unitRate_ = 0; // baud the unit talks at; 0: whatever the caller uses
    QByteArray buffer_;
    bool skipping_ = false; // after an overlong line: drop up to the next CR
    bool awaitingPassword_ = false;
    int level_ = 0;
    qint64 sent_ = 0;
    qint64 dataStartMs_ = 0;
    bool pauseDone_ = false;
    int dataRun_ = 0; // counts starts and stops of the data, for the pause's end
};

} // namespace hdsim
