#include "arxunit.h"

#include "trace.h"

namespace arxsim {

namespace {

constexpr quint8 terminator = 0xFE;
constexpr quint8 pollByte = 0xFF;
// Longest command a unit accepts: a download line is an S-record (under 600
// characters even for the longest); anything longer is garbage.
constexpr int maxCommand = 600;

const QByteArray crlf("\r\n");

QString commandName(quint8 code)
{
    switch (code) {
    case 0x01: return QStringLiteral("password-prompt");
    case 0x02: return QStringLiteral("log-off");
    case 0x03: return QStringLiteral("wake");
    case 0x04: return QStringLiteral("start");
    case 0x06: return QStringLiteral("password-change");
    case 0x07: return QStringLiteral("identify");
    default: return QStringLiteral("unknown");
    }
}

// Upper-case hex text -> value; -1 when any character is not a hex digit.
int hexValue(const QByteArray &text)
{
    int v = 0;
    for (char c : text) {
        const int d = hexDigit(c);
        if (d < 0)
            return -1;
        v = v * 16 + d;
    }
    return text.isEmpty() ? -1 : v;
}

} // namespace

static ModelInfo resolveModel(const QByteArray &id)
{
    ModelInfo info;
    if (!modelInfo(id, &info))
        modelInfo("KM71", &info);
    return info;
}

ArxUnit::ArxUnit(const ArxOptions &options, QObject *parent)
    : Unit(parent), opt_(options), model_(resolveModel(options.model)),
      frames_(model_, options.modules)
{
    setReplies(opt_.replyDelayMs, opt_.silent);
    if (opt_.idText.isEmpty())
        opt_.idText = model_.id;
    if (opt_.passwords.isEmpty())
        opt_.passwords.append({QByteArray("KELPO4"), int(LevelSupervisor)});
    frames_.setInterleaved(opt_.interleaved);
    frames_.setHistoryEvery(opt_.historyEvery);
    loaded_ = opt_.loaded;
}

void ArxUnit::resetSession()
{
    dropPendingReplies(); // answers still on their way belong to the caller that left
    buffer_.clear();
    fixedArgs_ = -1;
    skipping_ = false;
    awaitingPassword_ = false;
    level_ = LevelNone;
    started_ = false;
    dialogue_ = Dialogue::None;
}

// The unit keeps its program (loaded state) and passwords across callers,
// as the real one keeps them in its memory.
void ArxUnit::linkUp() { resetSession(); }
void ArxUnit::linkDown() { resetSession(); }

void ArxUnit::receive(const QByteArray &bytes)
{
    for (char c : bytes)
        takeByte(quint8(c));
}

// Commands end with FE, except the lone poll byte. Setting commands carry raw
// argument bytes that may be FE or FF themselves, so their length is known
// from the code; everything else runs to the next FE.
void ArxUnit::takeByte(quint8 b)
{
    if (skipping_) {
        if (b == terminator)
            skipping_ = false;
        return;
    }
    if (buffer_.isEmpty()) {
        if (b == pollByte) {
            poll();
            return;
        }
        if (b == terminator) {
            handle(QByteArray());
            return;
        }
        buffer_.append(char(b));
        fixedArgs_ = textExpected() ? -1 : settingArgs(b);
        return;
    }
    buffer_.append(char(b));
    if (fixedArgs_ >= 0) {
        if (buffer_.size() < fixedArgs_ + 2)
            return;
        const QByteArray cmd = buffer_.left(buffer_.size() - 1);
        buffer_.clear();
        fixedArgs_ = -1;
        if (b == terminator) {
            handle(cmd);
        } else {
            if (Trace *t = globalTrace())
                t->received(cmd + char(b), QStringLiteral("garbage"));
            skipping_ = true;
        }
        return;
    }
    if (b == terminator) {
        const QByteArray cmd = buffer_.left(buffer_.size() - 1);
        buffer_.clear();
        handle(cmd);
    } else if (buffer_.size() > maxCommand) {
        if (Trace *t = globalTrace())
            t->received(buffer_.left(32), QStringLiteral("garbage (too long)"));
        buffer_.clear();
        skipping_ = true;
    }
}

// Raw argument counts of the setting commands a relay passes on, per family;
// -1 when the byte does not start a setting command.
int ArxUnit::settingArgs(quint8 code) const
{
    switch (model_.layout) {
    case Layout::Fm:
        switch (code) {
        case 8: case 20: case 23: case 24: case 25: case 26: case 27: case 33: case 'C':
            return 1;
        case 28: case 29: case 30: case 'B':
            return 0;
        case 31: case 32:
            return 2;
        case 'L': case 'Q':
            return 3;
        case 'R':
            return 4;
        case 'D': case 'P':
            return 5;
        default:
            return -1;
        }
    case Layout::Tv:
        switch (code) {
        case 0x14: case 0x17: case 0x1A:
            return 1;
        case 0x1D: case 0x1E:
            return 0;
        case 'L': case 'Q':
            return 3;
        default:
            return -1;
        }
    case Layout::Am:
        switch (code) {
        case 0x18: case 0x19:
            return 1;
        case 0x1C:
            return 0;
        case 'P':
            return model_.amSubType == 1 ? 3 : 5;
        default:
            return -1;
        }
    }
    return -1;
}

void ArxUnit::handle(const QByteArray &cmd)
{
    const QByteArray raw = cmd + char(terminator);
    if (cmd.isEmpty()) {
        if (Trace *t = globalTrace())
            t->received(raw, QStringLiteral("abort"));
        // An abort ends a half-sent command only; the server repeats the
        // current step of a dialogue after it.
        return;
    }
    const quint8 first = quint8(cmd[0]);
    if (cmd.size() == 1 && first >= 0x01 && first <= 0x07 && first != 0x05) {
        sessionCommand(first, raw);
    } else if (awaitingPassword_) {
        password(cmd);
    } else if (dialogue_ != Dialogue::None) {
        dialogue(cmd);
    } else if (first == 0x05) {
        downloadCheck(cmd);
    } else if (first == 0x09) {
        downloadLine(cmd);
    } else if (settingArgs(first) >= 0 && cmd.size() == settingArgs(first) + 1) {
        setting(cmd);
    } else if (Trace *t = globalTrace()) {
        t->received(raw, QStringLiteral("unknown"));
    }
}

void ArxUnit::sessionCommand(quint8 code, const QByteArray &raw)
{
    if (Trace *t = globalTrace())
        t->received(raw, commandName(code));
    if (code != 0x01)
        awaitingPassword_ = false;
    if (code != 0x06)
        dialogue_ = Dialogue::None;
    switch (code) {
    case 0x01:
        awaitingPassword_ = true;
        reply(QByteArray("PASSWORD") + "\xF0\xF1", QStringLiteral("password prompt"));
        break;
    case 0x02:
        level_ = LevelNone;
        started_ = false;
        break;
    case 0x03:
        // Wake: the unit stops delivering data and listens for commands.
        started_ = false;
        break;
    case 0x04:
        started_ = level_ > LevelNone;
        break;
    case 0x06:
        if (level_ < LevelSupervisor) {
            dialogue_ = Dialogue::None;
            reply(QByteArray("MUST BE A VALID SUPERVISOR") + crlf, QStringLiteral("refused"));
        } else {
            dialogue_ = Dialogue::Level;
            reply(QByteArray("PASSWORD LEVEL") + crlf, QStringLiteral("ask level"));
        }
        break;
    case 0x07:
        reply(opt_.idText + opt_.replyEnd, QStringLiteral("identity"));
        break;
    default:
        break;
    }
}

void ArxUnit::password(const QByteArray &cmd)
{
    awaitingPassword_ = false;
    // A relay server's own log-in puts a zero byte before the password.
    const QByteArray text = cmd.startsWith('\0') ? cmd.mid(1) : cmd;
    if (Trace *t = globalTrace())
        t->received(cmd + char(terminator), QStringLiteral("password ") + QString::fromLatin1(text));
    int granted = LevelNone;
    for (const auto &p : opt_.passwords) {
        if (p.first == text)
            granted = std::max(granted, p.second);
    }
    if (granted == LevelNone) {
        level_ = LevelNone;
        reply(QByteArray("INVAILD PASSWORD") + opt_.replyEnd, QStringLiteral("rejected"));
        return;
    }
    level_ = granted;
    reply(QByteArray("VALID ") + levelWord(granted) + opt_.replyEnd, QStringLiteral("granted"));
}

void ArxUnit::dialogue(const QByteArray &cmd)
{
    const QByteArray raw = cmd + char(terminator);
    switch (dialogue_) {
    case Dialogue::Level: {
        const int level = cmd.size() == 1 ? cmd[0] - '0' : 0;
        if (Trace *t = globalTrace())
            t->received(raw, QStringLiteral("password level"));
        if (level >= LevelObserver && level <= LevelSupervisor) {
            changeLevel_ = level;
            dialogue_ = Dialogue::New;
            reply(QByteArray("NEW") + crlf, QStringLiteral("ask new"));
        } else {
            reply(QByteArray("PASSWORD LEVEL") + crlf, QStringLiteral("ask level"));
        }
        break;
    }
    case Dialogue::New:
        if (Trace *t = globalTrace())
            t->received(raw, QStringLiteral("new password ") + QString::fromLatin1(cmd));
        newPassword_ = cmd;
        dialogue_ = Dialogue::Verify;
        reply(QByteArray("VERIFY") + crlf, QStringLiteral("ask verify"));
        break;
    case Dialogue::Verify:
        if (Trace *t = globalTrace())
            t->received(raw, QStringLiteral("verify password ") + QString::fromLatin1(cmd));
        dialogue_ = Dialogue::None;
        if (cmd != newPassword_) {
            reply(QByteArray("NOT VERIFIED") + crlf, QStringLiteral("mismatch"));
            break;
        }
        // One password per level: the new one replaces that level's.
        for (int i = opt_.passwords.size() - 1; i >= 0; --i) {
            if (opt_.passwords[i].second == changeLevel_)
                opt_.passwords.removeAt(i);
        }
        opt_.passwords.append({newPassword_, changeLevel_});
        reply(QByteArray("CHANGED") + crlf, QStringLiteral("changed"));
        break;
    case Dialogue::None:
        break;
    }
}

void ArxUnit::downloadCheck(const QByteArray &cmd)
{
    const int value = cmd.size() == 5 ? hexValue(cmd.mid(1)) : -1;
    if (Trace *t = globalTrace())
        t->received(cmd + char(terminator),
                    QStringLiteral("download-check ") + QString::fromLatin1(cmd.mid(1)));
    bool good = false;
    if (value >= 0) {
        if (linesSinceCheck_ > 0 && !opt_.finalCheckBad) {
            // A download just ended: the unit now holds that program.
            loaded_ = true;
            loadedValue_ = value;
        }
        good = loaded_ && (loadedValue_ < 0 || loadedValue_ == value);
    }
    linesSinceCheck_ = 0;
    lastLineValid_ = false;
    reply(QByteArray(good ? "GOOD CHECKSUM" : "BAD CHECKSUM") + opt_.replyEnd,
          good ? QStringLiteral("good") : QStringLiteral("bad"));
}

void ArxUnit::downloadLine(const QByteArray &cmd)
{
    const QByteArray line = cmd.mid(1);
    if (Trace *t = globalTrace())
        t->received(cmd + char(terminator), QStringLiteral("download-line"));
    // A repeat of the line just refused counts against the same allowance.
    if (!lastLineValid_ || line != lastLine_) {
        lastLine_ = line;
        lastLineValid_ = true;
        badLeft_ = opt_.badChecksumsPerLine;
    }
    if (badLeft_ > 0) {
        --badLeft_;
        reply(QByteArray("BAD CHECKSUM") + opt_.replyEnd, QStringLiteral("bad"));
        return;
    }
    lastLineValid_ = false; // the same text again is the next line of the file
    ++linesSinceCheck_;
    reply(QByteArray("GOOD CHECKSUM") + opt_.replyEnd, QStringLiteral("good"));
}

// The unit shows a change in its next frame's setting echo. Value commands
// name the parameter in their first argument; selects and switches are
// echoed under their own code.
void ArxUnit::setting(const QByteArray &cmd)
{
    const quint8 code = quint8(cmd[0]);
    const QByteArray args = cmd.mid(1);
    Echo echo;
    const bool hexValueCommand = model_.layout != Layout::Fm && (code == 'L' || code == 'Q' || code == 'P');
    if (hexValueCommand) {
        echo.code = quint8(args[0]);
        const int v = hexValue(args.mid(1));
        echo.value = v < 0 ? 0 : quint16(v);
    } else if (code == 'L' || code == 'Q' || code == 'R' || code == 'D' || code == 'P') {
        echo.code = quint8(args[0]);
        echo.value = quint16(quint8(args[1]) | (quint8(args[2]) << 8));
    } else if (args.isEmpty()) {
        echo.code = code;
        echo.value = 0xFFFF;
    } else if (args.size() == 1) {
        echo.code = code;
        echo.value = quint8(args[0]);
    } else {
        echo.code = code;
        echo.value = quint16(quint8(args[0]) | (quint8(args[1]) << 8));
    }
    if (Trace *t = globalTrace())
        t->received(cmd + char(terminator),
                    QStringLiteral("setting code=%1 value=%2").arg(echo.code).arg(echo.value));
    frames_.queueEcho(echo);
}

void ArxUnit::poll()
{
    if (Trace *t = globalTrace())
        t->received(QByteArray(1, char(pollByte)), started_ ? QStringLiteral("poll")
                                                            : QStringLiteral("poll (not started)"));
    if (!started_)
        return;
    reply(frames_.nextFrame(), QStringLiteral("frame"), true);
}

} // namespace arxsim
