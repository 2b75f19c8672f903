#include "hdunit.h"

#include "hdframes.h"
#include "trace.h"

#include <QDateTime>
#include <QTimer>

#include <cstring>

namespace hdsim {

namespace {

constexpr char cr = '\r';
// The longest line a unit takes: an identification request is two letters,
// a checked command under twenty; anything near this is garbage.
constexpr int maxLine = 200;
// Bytes a receiver meets between two frames when the line picks up noise:
// the last two look like the start of a frame marker.
const QByteArray noiseBytes("\x55\xFF\xFE", 3);

QByteArray hexByte(int v) { return QByteArray::number(v & 0xFF, 16).toUpper().rightJustified(2, '0'); }

const char help[] = R"help(HD MONITORS AND KF-71 (--unit kh71, kh72 or kf71)
  These units speak text lines ended by a carriage return. The unit answers
  "SC" with a password prompt, the password with "VALID <LEVEL>" (or
  "INVAILD PASSWORD", the unit's own spelling), "UI" with its identification
  line, and after "SD" streams 1501-byte data frames until "HD" (halt) or
  "EC" (end of session). The frames step through every page the unit has:
    KH-71, KH-72  0 settings, 1 station information, 2..10 programmes 1..9,
                  18 alarm table
    KF-71         0 settings, 1 RDS (radiotext with line breaks), 18 alarms
  Each frame echoes one setting in bytes 4..8, in turn. A setting changed
  with a "CC" line (an Operator or Supervisor session, right check pair) is
  echoed in the next two frames and shows in the settings page from then
  on; "PB" lines press buttons (KH-71/72 buttons 205..208 keep their value
  and echo it). Lines with a wrong check pair are traced and ignored.
  A "PG" line starts the unit's program loader (see LOADER below).
  --password, --level, --id, --reply-delay and --silent work as for arx;
  --id replaces the whole identification line.

  --no-lcd            KH-71 without LCD: its identification line has no
                      "LCD(", and a station asks for a firmware update
                      instead of starting the data.
  --lcd-type DIGIT    KH-71 LCD type, one hex digit (default 2).
  --serial TEXT       Serial number, 6 characters (defaults: KH-71 710123,
                      KH-72 720456, KF-71 F71007).
  --software TEXT     What the identification line shows in "SW(...)"
                      (defaults below), e.g. V03.10 for a KH-71 without LCD
                      whose firmware a station's HD update dialog takes.
                      A loaded program replaces it (and a line given with
                      --id) with its own.
  --option basic|complete
                      KF-71 option shown in the identification line as
                      OPT(0) or OPT(1) (default complete).
  --login prompt|sprompt|open[:LEVEL]
                      prompt (default): "SC" -> "PASSWORD", then the password
                      alone. sprompt: "SC" -> "SPASSWORD", then "SP" and the
                      password (a station takes such a far end for a relay
                      server and expects --stamp frames). open: "SC" ->
                      "VALID <LEVEL>" with no password (default SUPERVISOR;
                      a KF-71 station accepts only "VALID SUPERVISOR").
  --rate N            Frames per second once started (1..50, default 4).
                      A station files at most one frame per 125 ms tick.
  --noise N           Put three stray bytes (55 FF FE) before every N-th
                      frame, as a noisy line would.
  --stamp             Follow each frame with an 8-byte time stamp, as a
                      relay server of another station does (1509 bytes).
  --trace-frames N    With --trace: a FRAME line for every N-th frame only
                      (default 1; 0 = none). One line is 3 KB of hex.
  --pause AFTER:FOR   AFTER seconds after the data starts, send no frames
                      for FOR seconds (the line stays up), then go on, once:
                      a unit that goes silent for a while.
  --alarm-change N[:M]
                      The alarm table (page 18) stays as it is, except that
                      from frame N on (until frame M) its first entry shows
                      the other state: a unit whose own alarm rises (and
                      falls again).

  Identification lines (defaults):
    KH-71         KH-71 SN(710123) SW(02.10,01.05) LCD(2) LAN(6.5.0.7)
    KH-71 no LCD  KH-71 SN(710123) SW(2.10.05)
    KH-72         KH-72 SN(720456) SW(03.01,01.02) LAN(6.5.0.7)
    KF-71         KF-71 SN(F71007) SW(01.20,01.03) OPT(1) LAN(6.5.0.7)

  Examples:
    A KH-71 on COM3 (CONFIG/SerialPorts.CFG line 3: /tmp/com3):
      tolva-unitsim --unit kh71 --pty --link /tmp/com3
    A KF-71 Basic on a network module, password OBSERVE for observers:
      tolva-unitsim --unit kf71 --option basic --tcp 10002 \
        --password KELPO4 --password OBSERVE:OBSERVER
)help";

} // namespace

bool lineUnitKind(const QString &kind, Model *model)
{
    const QString k = kind.toLower().remove(QLatin1Char('-'));
    if (k == QLatin1String("kh71"))
        *model = Model::Kh71;
    else if (k == QLatin1String("kh72"))
        *model = Model::Kh72;
    else if (k == QLatin1String("kf71"))
        *model = Model::Kf71;
    else
        return false;
    return true;
}

const char *helpSection() { return help; }

bool takeOption(const QString &option, const std::function<QString()> &value, LineOptions *o, QString *error)
{
    bool ok = true;
    if (option == QLatin1String("--no-lcd")) {
        o->lcd = false;
    } else if (option == QLatin1String("--lcd-type")) {
        const QString v = value().toUpper();
        if (v.size() != 1 || hexDigit(v[0].toLatin1()) < 0)
            *error = QStringLiteral("--lcd-type wants one hex digit");
        else
            o->lcdType = v[0].toLatin1();
    } else if (option == QLatin1String("--serial")) {
        o->serial = value().toLatin1().left(6).leftJustified(6, '0');
    } else if (option == QLatin1String("--software")) {
        o->software = value().toLatin1().left(32);
    } else if (option == QLatin1String("--option")) {
        const QString v = value().toLower();
        if (v == QLatin1String("basic") || v == QLatin1String("complete"))
            o->completeOption = v == QLatin1String("complete");
        else
            *error = QStringLiteral("--option wants basic or complete");
    } else if (option == QLatin1String("--login")) {
        const QString v = value().toLower();
        if (v == QLatin1String("prompt")) {
            o->login = Login::Prompt;
        } else if (v == QLatin1String("sprompt")) {
            o->login = Login::SPrompt;
        } else if (v == QLatin1String("open") || v.startsWith(QLatin1String("open:"))) {
            o->login = Login::Open;
            o->openLevel = v.size() > 5 ? parseLevel(v.mid(5)) : 3;
            if (o->openLevel == 0)
                *error = QStringLiteral("--login open:LEVEL wants SUPERVISOR, OPERATOR or OBSERVER");
        } else {
            *error = QStringLiteral("--login wants prompt, sprompt or open[:LEVEL]");
        }
    } else if (option == QLatin1String("--rate")) {
        o->rate = rangedNumber(value(), 1, 50, &ok);
        if (!ok)
            *error = QStringLiteral("--rate wants 1 to 50 frames a second");
    } else if (option == QLatin1String("--noise")) {
        o->noiseEvery = rangedNumber(value(), 1, 1000000, &ok);
        if (!ok)
            *error = QStringLiteral("--noise wants a frame count of 1 or more");
    } else if (option == QLatin1String("--pause")) {
        const QStringList v = value().split(QLatin1Char(':'));
        bool ok2 = v.size() == 2;
        o->pauseAfterS = ok2 ? rangedNumber(v[0], 0, 86400, &ok) : 0;
        o->pauseForS = ok2 && ok ? rangedNumber(v[1], 1, 86400, &ok) : 0;
        if (!ok || !ok2)
            *error = QStringLiteral("--pause wants AFTER:FOR in seconds, e.g. 120:90");
    } else if (option == QLatin1String("--alarm-change")) {
        const QStringList v = value().split(QLatin1Char(':'));
        o->alarmChangeAt = rangedNumber(v[0], 1, 100000000, &ok);
        if (ok && v.size() == 2)
            o->alarmBackAt = rangedNumber(v[1], o->alarmChangeAt + 1, 100000000, &ok);
        if (!ok || v.size() > 2)
            *error = QStringLiteral("--alarm-change wants a frame number N or N:M with M after N");
    } else if (option == QLatin1String("--stamp")) {
        o->stamp = true;
    } else if (option == QLatin1String("--trace-frames")) {
        o->traceFramesEvery = rangedNumber(value(), 0, 1000000, &ok);
        if (!ok)
            *error = QStringLiteral("--trace-frames wants 0 or more");
    } else {
        return false;
    }
    return true;
}

QByteArray identLine(const LineOptions &o)
{
    if (!o.ident.isEmpty())
        return o.ident;
    const QByteArray lan = " LAN(" + (o.lan.isEmpty() ? QByteArray("6.5.0.7") : o.lan) + ")";
    auto head = [&](const char *model, const char *serial, const char *software) {
        return QByteArray(model) + " SN(" + (o.serial.isEmpty() ? QByteArray(serial) : o.serial) + ") SW("
            + (o.software.isEmpty() ? QByteArray(software) : o.software) + ")";
    };
    switch (o.model) {
    case Model::Kh71:
        if (!o.lcd)
            return head("KH-71", "710123", "2.10.05");
        return head("KH-71", "710123", "02.10,01.05") + " LCD(" + QByteArray(1, o.lcdType) + ")" + lan;
    case Model::Kh72:
        return head("KH-72", "720456", "03.01,01.02") + lan;
    case Model::Kf71:
        return head("KF-71", "F71007", "01.20,01.03") + " OPT(" + (o.completeOption ? "1" : "0") + ")" + lan;
    }
    return QByteArray();
}

LineUnit::LineUnit(const LineOptions &options, QObject *parent)
    : Unit(parent), opt_(options), loader_(nullptr), timer_(new QTimer(this))
{
    setReplies(opt_.replyDelayMs, opt_.silent);
    // A KH-71 that does not report its display runs the older loader.
    opt_.loader.flavour = opt_.model == Model::Kf71 ? LoaderOptions::Flavour::Kf71
        : opt_.model == Model::Kh71 && !opt_.lcd   ? LoaderOptions::Flavour::Hd
                                                    : LoaderOptions::Flavour::Kh71;
    loader_ = new Loader(opt_.loader, this);
    connect(loader_, &Loader::output, this, &Unit::output);
    connect(loader_, &Loader::programLoaded, this, &LineUnit::programLoaded);
    connect(loader_, &Loader::moduleLoading, this, &LineUnit::moduleLoading);
    if (opt_.model == Model::Kf71)
        frames_ = std::make_unique<KfFrames>();
    else
        frames_ = std::make_unique<HdFrames>(opt_.model == Model::Kh72);
    if (opt_.passwords.isEmpty())
        opt_.passwords.append({QByteArray("KELPO4"), 3});
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(1000 / std::max(1, opt_.rate));
    connect(timer_, &QTimer::timeout, this, &LineUnit::sendFrame);
}

LineUnit::~LineUnit() = default;

QString LineUnit::familyName() const { return opt_.model == Model::Kf71 ? QStringLiteral("KF-71") : QStringLiteral("HD"); }

void LineUnit::resetSession()
{
    dropPendingReplies(); // answers still on their way belong to the caller that left
    timer_->stop();
    ++dataRun_;
    buffer_.clear();
    skipping_ = false;
    awaitingPassword_ = false;
    level_ = 0;
    loader_->linkDown();
}

// Settings and the frame count outlive a caller, as in the unit's memory.
void LineUnit::linkUp() { resetSession(); }
void LineUnit::linkDown() { resetSession(); }

void LineUnit::receive(const QByteArray &bytes)
{
    if (unitRate_ > 0 && callerRate() > 0 && callerRate() != unitRate_) {
        // Bytes sent at another rate reach the unit as noise.
        if (Trace *t = globalTrace())
            t->received(bytes.left(32), QStringLiteral("garbage (caller at %1 baud, unit at %2)").arg(callerRate()).arg(unitRate_));
        return;
    }
    for (char c : bytes) {
        // Program lines are longer than any command.
        const int longest = loader_->active() ? Loader::kMaxLine : maxLine;
        if (c == cr) {
            const QByteArray line = buffer_;
            buffer_.clear();
            if (skipping_)
                skipping_ = false;
            else
                handle(line);
        } else if (c == '\n' || skipping_) {
            continue;
        } else if (buffer_.size() >= longest) {
            if (Trace *t = globalTrace())
                t->received(buffer_.left(32), QStringLiteral("garbage (too long)"));
            buffer_.clear();
            skipping_ = true;
        } else {
            buffer_.append(c);
        }
    }
}

void LineUnit::handle(const QByteArray &line)
{
    if (loader_->takeLine(line))
        return;
    const QByteArray raw = line + cr;
    Trace *t = globalTrace();
    if (line.isEmpty()) {
        // A bare CR abandons a half-typed command or a password prompt.
        if (t)
            t->received(raw, awaitingPassword_ ? QStringLiteral("empty line (prompt dropped)") : QStringLiteral("empty line"));
        awaitingPassword_ = false;
        return;
    }
    if (awaitingPassword_) {
        password(line);
        return;
    }
    const QByteArray word = line.left(2);
    if (line == "HD") {
        if (t)
            t->received(raw, QStringLiteral("halt data"));
        stopData(QStringLiteral("halted"));
    } else if (line == "SC") {
        if (t)
            t->received(raw, QStringLiteral("session"));
        level_ = 0;
        switch (opt_.login) {
        case Login::Prompt:
            awaitingPassword_ = true;
            replyLine("PASSWORD", QStringLiteral("password prompt"));
            break;
        case Login::SPrompt:
            awaitingPassword_ = true;
            replyLine("SPASSWORD", QStringLiteral("password prompt"));
            break;
        case Login::Open:
            level_ = opt_.openLevel;
            replyLine("VALID " + levelWord(level_), QStringLiteral("granted"));
            break;
        }
    } else if (line == "UI") {
        if (t)
            t->received(raw, QStringLiteral("identify"));
        replyLine(identLine(opt_), QStringLiteral("identification"));
    } else if (line == "SD") {
        if (t)
            t->received(raw, level_ > 0 ? QStringLiteral("start data") : QStringLiteral("start data (no session)"));
        if (level_ > 0)
            startData();
    } else if (line == "EC") {
        if (t)
            t->received(raw, QStringLiteral("end session"));
        level_ = 0;
        stopData(QStringLiteral("session ended"));
    } else if (word == "CC" || word == "PB") {
        checked(line);
    } else if (line == "EF" || line == "UL" || line == "DE") {
        if (t)
            t->received(raw, QStringLiteral("update command outside the loader"));
    } else if (t) {
        t->received(raw, QStringLiteral("unknown"));
    }
}

void LineUnit::password(const QByteArray &line)
{
    awaitingPassword_ = false;
    QByteArray given = line;
    if (opt_.login == Login::SPrompt) {
        if (!line.startsWith("SP")) {
            if (Trace *t = globalTrace())
                t->received(line + cr, QStringLiteral("not an SP line (prompt dropped)"));
            return;
        }
        given = line.mid(2);
    }
    if (Trace *t = globalTrace())
        t->received(line + cr, QStringLiteral("password ") + QString::fromLatin1(given));
    int granted = 0;
    for (const auto &p : opt_.passwords) {
        if (p.first == given)
            granted = std::max(granted, p.second);
    }
    level_ = granted;
    if (granted == 0)
        replyLine("INVAILD PASSWORD", QStringLiteral("rejected"));
    else
        replyLine("VALID " + levelWord(granted), QStringLiteral("granted"));
}

// "CC" + number + value pairs + check, "PB" + number + [value] + check: the
// check pair is the sum of the characters before it, modulo 256.
void LineUnit::checked(const QByteArray &line)
{
    const QByteArray raw = line + cr;
    auto note = [&](const QString &what) {
        if (Trace *t = globalTrace())
            t->received(raw, what);
    };
    const QByteArray body = line.left(line.size() - 2);
    unsigned sum = 0;
    for (char c : body)
        sum += quint8(c);
    QByteArray bytes;
    if (line.size() < 6 || !hexBytes(body.mid(2), &bytes)) {
        note(QStringLiteral("malformed"));
        return;
    }
    QList<int> pairs;
    for (char b : bytes)
        pairs.append(quint8(b));
    if (line.right(2) != hexByte(int(sum))) {
        note(QStringLiteral("bad check pair (wants %1)").arg(QString::fromLatin1(hexByte(int(sum)))));
        return;
    }
    if (level_ < 2) {
        note(level_ == 0 ? QStringLiteral("refused: no session") : QStringLiteral("refused: observer"));
        return;
    }
    const int n = pairs.takeFirst();
    QString what;
    if (line.startsWith("CC"))
        frames_->changeParameter(n, pairs, &what);
    else
        frames_->pressButton(n, pairs, &what);
    note(what);
}

void LineUnit::programLoaded(const QByteArray &version, const QByteArray &serialDigits)
{
    // The identification is the new program's from now on.
    opt_.ident.clear();
    if (!version.isEmpty())
        opt_.software = version;
    if (serialDigits.size() == 3) {
        const QByteArray id = identLine(opt_);
        opt_.serial = id.mid(id.indexOf("SN(") + 3, 3) + serialDigits;
    }
    if (loader_->flavour() == LoaderOptions::Flavour::Hd) {
        // Firmware 4 reports its display and talks at 115200 baud.
        opt_.lcd = true;
        unitRate_ = 115200;
        loader_->setFlavour(LoaderOptions::Flavour::Kh71);
    }
    if (Trace *t = globalTrace())
        t->note(QStringLiteral("program loaded: ") + QString::fromLatin1(identLine(opt_))
                + (unitRate_ ? QStringLiteral(" at %1 baud").arg(unitRate_) : QString()));
}

void LineUnit::moduleLoading(const QByteArray &version, int ms)
{
    if (Trace *t = globalTrace())
        t->note(QStringLiteral("network module loading %1 ms").arg(ms));
    QTimer::singleShot(ms, this, [this, version] {
        opt_.ident.clear();
        if (!version.isEmpty())
            opt_.lan = version;
        if (Trace *t = globalTrace())
            t->note(QStringLiteral("network module runs: ") + QString::fromLatin1(identLine(opt_)));
    });
}

void LineUnit::startData()
{
    if (opt_.silent || timer_->isActive())
        return;
    frames_->restart();
    ++dataRun_;
    dataStartMs_ = QDateTime::currentMSecsSinceEpoch();
    timer_->start();
}

void LineUnit::stopData(const QString &why)
{
    if (!timer_->isActive())
        return;
    ++dataRun_;
    timer_->stop();
    if (Trace *t = globalTrace())
        t->note(QStringLiteral("%1 data stopped (%2) after %3 frames").arg(familyName(), why).arg(sent_));
}

void LineUnit::sendFrame()
{
    if (opt_.pauseForS > 0 && !pauseDone_
        && QDateTime::currentMSecsSinceEpoch() - dataStartMs_ >= qint64(opt_.pauseAfterS) * 1000) {
        pauseDone_ = true;
        timer_->stop();
        if (Trace *t = globalTrace())
            t->note(QStringLiteral("%1 data paused for %2 s after %3 frames").arg(familyName()).arg(opt_.pauseForS).arg(sent_));
        QTimer::singleShot(opt_.pauseForS * 1000, this, [this, run = dataRun_] {
            if (run != dataRun_)
                return; // the data was stopped or the caller left meanwhile
            if (Trace *t = globalTrace())
                t->note(QStringLiteral("%1 data resumed").arg(familyName()));
            timer_->start();
        });
        return;
    }
    frames_->alarmChanged = opt_.alarmChangeAt > 0 && sent_ + 1 >= opt_.alarmChangeAt
        && (opt_.alarmBackAt == 0 || sent_ + 1 < opt_.alarmBackAt);
    const QByteArray frame = frames_->nextFrame();
    Trace *t = globalTrace();
    if (opt_.noiseEvery > 0 && (sent_ + 1) % opt_.noiseEvery == 0) {
        if (t)
            t->sent(noiseBytes, QStringLiteral("noise"));
        emit output(noiseBytes);
    }
    QByteArray out = frame;
    if (opt_.stamp) {
        const double days = Trace::dayNumber(QDateTime::currentDateTime());
        char b[8];
        std::memcpy(b, &days, 8); // little-endian host, as the stamp is
        out.append(b, 8);
    }
    if (t && opt_.traceFramesEvery > 0 && sent_ % opt_.traceFramesEvery == 0)
        t->frame(frame);
    ++sent_;
    emit output(out);
}

} // namespace hdsim
