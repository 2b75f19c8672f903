// The program loader of the HD family (KH-71 with or without display report,
// KF-71) and of their network module, as the server meets it on the wire:
//   "PG\r" or "PG<4 hex>\r"  -> "READY\r"
//   each program line        -> "GC\r" (good S-record) or "BC\r"
//   "EF\r"                   -> the unit's work with progress lines, then
//                               "SUCCESS\r" after its restart (HD: sector
//                               digits "FLASH0".."FLASH7" and "DONE\r")
//   "UL\r"                   -> the network module is loaded; the unit's
//                               network is gone while it restarts
//   "DE\r", "EC\r"           -> the loader is left
// A unit hands it every CR-ended line; it takes the announcement and, from
// then until it is done, everything.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

class QTimer;

namespace hdsim {

struct LoaderOptions {
    enum class Flavour { Hd, Kh71, Kf71 };
    Flavour flavour = Flavour::Kh71;
    int badChecksumsPerLine = 0; // "BC" answers before the "GC" of each line
    QByteArray failIn;           // "erase", "flash", "verify" or "micro": answer FAIL there
    int progressLines = 3;       // progress lines per phase of the unit's work
    int stepMs = 300;            // between two lines of the unit's work
    int resetMs = 20000;         // restart after the work, before "SUCCESS"
    int moduleMs = 30000;        // network module restart after "UL"
};

// Parses one loader option at args[i] (advancing i past its value); false
// when args[i] is no loader option. Errors go to *error.
bool parseLoaderOption(const QStringList &args, int &i, LoaderOptions *options, QString *error);
extern const char loaderHelp[];

class Loader : public QObject
{
    Q_OBJECT
public:
    explicit Loader(const LoaderOptions &options, QObject *parent = nullptr);

    // Longest line taken; an S-record is far shorter.
    static constexpr int kMaxLine = 4200;

    // The unit's firmware decides how its loader reports its work.
    void setFlavour(LoaderOptions::Flavour flavour) { opt_.flavour = flavour; }
    LoaderOptions::Flavour flavour() const { return opt_.flavour; }

    // True when `line` (without its CR) was the loader's: the announcement
    // that enters it, or anything while it runs.
    bool takeLine(const QByteArray &line);
    bool active() const { return state_ != State::Idle; }
    // The caller went away: an unfinished load is forgotten.
    void linkDown();

    // Text of the S0 header record of a program, printable characters only.
    static QByteArray headerText(const QByteArray &sRecord);
    // A well-formed S-record whose checksum is right.
    static bool goodRecord(const QByteArray &line);

signals:
    void output(const QByteArray &bytes);
    // A program was loaded and the unit runs it now: `version` is its header
    // text (empty when it had none); `serialDigits` the three digits of the
    // serial-number record at 0x002009 ("" when none came).
    void programLoaded(const QByteArray &version, const QByteArray &serialDigits);
    // The network module was loaded: the unit's network is away for `ms`.
    void moduleLoading(const QByteArray &version, int ms);

private:
    enum class State { Idle, Receiving, Working };

    void reply(const QByteArray &text);
    void startWork();
    void nextWork();

    LoaderOptions opt_;
    State state_ = State::Idle;
    int announced_ = -1;
    int lines_ = 0;
    int badLeft_ = 0;
    QByteArray lastLine_;
    QByteArray version_;
    QByteArray serialDigits_;
    QList<QByteArray> work_; // lines of the unit's work still to come
    QTimer *timer_;
};

} // namespace hdsim
