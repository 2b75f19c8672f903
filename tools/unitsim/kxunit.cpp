#include "kxunit.h"

#include "trace.h"

#include <QtMath>

namespace kxsim {

namespace {

constexpr int frameSize = 356;
// Longest command taken; anything longer is noise and is dropped.
constexpr int maxCommand = 64;
const QByteArray marker("\xF0\xF1");

} // namespace

const char helpText[] = R"(
KX-71 ANALYZER (--unit kx71)
  Answers "T\r" with its type and "U\r" with its version line (both ended
  by F0 F1), and each data request with one 356-byte frame: "D1\r" in the
  current data mode, "D2\r", "D3\r", "D4\r" in data mode 0, 1, 2. A request
  of M, V or H with a mode digit ("M3x\r") is a setting: answered like a
  data request, its letter and text appear in bytes 43-48 of the frames that
  follow. "D0\r" stops it until the next request. Frames: sync FF FE FD FC,
  byte 49 = data mode << 4 | frame kind (kinds 0, 1, 2 in turn), bytes
  349-352 the frame count (7 bits a byte, high first), byte 353 the sum of
  bytes 0-352. --reply-delay and --silent apply.
  --kx-type TEXT      Answer to "T\r" (default KX-71; anything else is
                      not recognised by the server).
  --kx-version TEXT   Answer to "U\r" (default
                      "KX HC11 01.23    DSP  04.56").
  --kx-bad-checksum N Give every N-th frame a wrong checksum (default 0,
                      never).
                        tolva-unitsim --tcp 0 --unit kx71 --kx-bad-checksum 5
)";

bool parseOption(const QString &option, const std::function<QString()> &value, KxOptions *options,
                 QString *error)
{
    if (option == QLatin1String("--kx-type")) {
        options->type = value().toLatin1().left(64);
    } else if (option == QLatin1String("--kx-version")) {
        options->version = value().toLatin1().left(64);
    } else if (option == QLatin1String("--kx-bad-checksum")) {
        bool ok = false;
        const QString v = value();
        options->corruptEvery = v.toInt(&ok);
        if (!ok || options->corruptEvery < 0) {
            *error = QStringLiteral("--kx-bad-checksum wants a number of 0 or more, not \"%1\"").arg(v);
            return false;
        }
    } else {
        *error = QStringLiteral("unknown option ") + option;
        return false;
    }
    return true;
}

KxUnit::KxUnit(const KxOptions &options, QObject *parent) : Unit(parent), opt_(options)
{
    setReplies(opt_.replyDelayMs, opt_.silent);
}

void KxUnit::linkUp() { reset(); }
void KxUnit::linkDown() { reset(); }

void KxUnit::reset()
{
    dropPendingReplies(); // frames still on a timer are not sent to the next caller
    buffer_.clear();
    mode_ = 0;
    setting_.clear();
}

void KxUnit::receive(const QByteArray &bytes)
{
    for (char c : bytes) {
        if (c == '\r') {
            handle(buffer_);
            buffer_.clear();
        } else if (buffer_.size() < maxCommand) {
            buffer_ += c;
        }
    }
}

void KxUnit::handle(const QByteArray &command)
{
    Trace *t = globalTrace();
    auto traced = [&](const QString &name) {
        if (t)
            t->received(command + '\r', name);
    };
    const char f = command.isEmpty() ? '\0' : command[0];
    const char d = command.size() > 1 ? command[1] : '\0';
    if (command == "T") {
        traced(QStringLiteral("type"));
        reply(opt_.type + marker, QStringLiteral("type"));
    } else if (command == "U") {
        traced(QStringLiteral("version"));
        reply(opt_.version + marker, QStringLiteral("version"));
    } else if (command == "D0") {
        traced(QStringLiteral("stop"));
        dropPendingReplies();
    } else if (command == "D1") {
        traced(QStringLiteral("start"));
        sendFrame(mode_);
    } else if (f == 'D' && d >= '2' && d <= '4' && command.size() == 2) {
        traced(QStringLiteral("data-request"));
        sendFrame(d - '2');
    } else if ((f == 'M' || f == 'V' || f == 'H') && d >= '2' && d <= '4') {
        traced(QStringLiteral("setting"));
        setting_ = f + command.mid(2);
        sendFrame(d - '2');
    } else {
        // Z, R, L and the bare prompt belong to reprogramming, not simulated.
        traced(QStringLiteral("unknown"));
    }
}

QByteArray KxUnit::frame(int n, int mode, const QByteArray &setting, bool corrupt)
{
    QByteArray f(frameSize, '\0');
    f[0] = char(0xFF);
    f[1] = char(0xFE);
    f[2] = char(0xFD);
    f[3] = char(0xFC);
    // Values that move from frame to frame, kept below 0x80 so that no sync
    // appears inside a frame.
    for (int i = 4; i < 43; ++i)
        f[i] = char((n + i * 3) & 0x7F);
    for (int i = 0; i < 6; ++i)
        f[43 + i] = i < setting.size() ? setting[i] : ' ';
    f[49] = char((mode & 0x0F) << 4 | (n % 3));
    // A trace: a sine wave whose phase follows the frame count.
    for (int i = 50; i < 349; ++i)
        f[i] = char(64 + qRound(60 * qSin((i - 50 + n * 7) * M_PI / 32)));
    // The trace repeats after 64 frames: its last four bytes hold the frame
    // count instead, 7 bits each, high first, so that every frame differs.
    for (int i = 0; i < 4; ++i)
        f[349 + i] = char((n >> (7 * (3 - i))) & 0x7F);
    unsigned sum = 0;
    for (int i = 0; i < 353; ++i)
        sum += quint8(f[i]);
    f[353] = char(quint8(sum) ^ (corrupt ? 0x5A : 0));
    return f;
}

void KxUnit::sendFrame(int mode)
{
    mode_ = mode;
    const bool corrupt = opt_.corruptEvery > 0 && (sent_ + 1) % opt_.corruptEvery == 0;
    reply(frame(sent_, mode, setting_, corrupt), QString(), true);
    ++sent_;
}

} // namespace kxsim
