// An Arxon unit as the server meets it on the wire: wake, password prompt,
// log-in, identify, download check and lines, start, polls answered with data
// frames, the password-change dialogue and setting commands from a relay.
#pragma once

#include "arxframes.h"
#include "unit.h"

#include <QList>
#include <QPair>

namespace arxsim {

struct ArxOptions {
    QByteArray model = "KM71";
    QByteArray idText;                         // identify answer; empty = model
    QList<QPair<QByteArray, int>> passwords;   // text, level granted
    QByteArray replyEnd = "\xF0\xF1";          // after VALID, id and checksum words
    unsigned modules = 0;                      // extra modules beside the model's own
    bool loaded = false;                       // program already held: first check good
    bool finalCheckBad = false;                // a completed download is never confirmed
    int badChecksumsPerLine = 0;
    bool interleaved = false;
    int historyEvery = 10;
    int replyDelayMs = 0;
    bool silent = false;                       // receive everything, answer nothing
};

class ArxUnit : public Unit
{
    Q_OBJECT
public:
    ArxUnit(const ArxOptions &options, QObject *parent = nullptr);

    void receive(const QByteArray &bytes) override;
    void linkUp() override;
    void linkDown() override;

private:
    enum class Dialogue { None, Level, New, Verify };

    void takeByte(quint8 b);
    void handle(const QByteArray &cmd);
    void sessionCommand(quint8 code, const QByteArray &raw);
    void password(const QByteArray &raw);
    void dialogue(const QByteArray &raw);
    void downloadCheck(const QByteArray &raw);
    void downloadLine(const QByteArray &raw);
    void setting(const QByteArray &raw);
    void poll();
    int settingArgs(quint8 code) const;
    bool textExpected() const { return awaitingPassword_ || dialogue_ != Dialogue::None; }
    void resetSession();

    ArxOptions opt_;
    ModelInfo model_;
    FrameBuilder frames_;
    QByteArray buffer_;
    int fixedArgs_ = -1;   // >= 0: a setting command with this many raw argument bytes
    bool skipping_ = false; // after garbage: drop bytes up to the next FE
    bool awaitingPassword_ = false;
    int level_ = LevelNone;
    bool started_ = false;
    Dialogue dialogue_ = Dialogue::None;
    int changeLevel_ = LevelSupervisor;
    QByteArray newPassword_;
    bool loaded_ = false;
    int loadedValue_ = -1; // -1: any value matches
    int linesSinceCheck_ = 0;
    QByteArray lastLine_;
    bool lastLineValid_ = false;
    int badLeft_ = 0;
};

} // namespace arxsim
