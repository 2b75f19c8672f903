#include "hdloader.h"

#include "trace.h"
#include "unit.h"

#include <QTimer>

namespace hdsim {

const char loaderHelp[] = R"help(
LOADER (HD System and KF-71 units: firmware and network module updates)
  --loader-bad-checksums N
                      Answer "BC" N times to each program line before "GC"
                      (4 or more makes the server give up the update).
  --loader-fail PHASE Answer "FAIL" in PHASE: erase, flash, verify or micro.
  --loader-progress N Progress lines per phase of the unit's work (default 3).
  --loader-step-ms MS Time between two lines of the unit's work (default 300).
  --loader-reset-ms MS
                      Restart time after the work, before "SUCCESS" (default
                      20000; tests shorten it).
  --loader-module-ms MS
                      Time the network module takes after "UL" (default
                      30000) before the unit reports its new version.
  A kh71, kh72 or kf71 unit hands its lines to this loader once a station
  announces a program ("PG"). A program's S0 header record names its version,
  the text the unit then shows in "SW(...)" (an XPORT file's header: the
  network module's "LAN(...)"); an HD serial-number record (S2 at 002009)
  sets the last three digits of "SN(...)". A KH-71 without LCD loaded by the
  HD update reports its LCD afterwards and talks at 115200 baud only: on a
  pty it takes nothing from a caller at another rate.
)help";

namespace {

// S-record types and their address lengths in bytes.
int addressBytes(char type)
{
    switch (type) {
    case '0': case '1': case '5': case '9': return 2;
    case '2': case '6': case '8': return 3;
    case '3': case '7': return 4;
    default: return -1;
    }
}

} // namespace

bool parseLoaderOption(const QStringList &args, int &i, LoaderOptions *o, QString *error)
{
    const QString a = args[i];
    auto value = [&]() -> QString {
        if (i + 1 >= args.size()) {
            *error = a + QStringLiteral(" needs a value");
            return {};
        }
        return args[++i];
    };
    auto numberInto = [&](int *field, int min, int max) {
        const QString v = value();
        bool ok = false;
        const int n = rangedNumber(v, min, max, &ok);
        if (!ok && error->isEmpty())
            *error = QStringLiteral("%1 wants a number from %2 to %3").arg(a).arg(min).arg(max);
        else
            *field = n;
    };
    if (a == QLatin1String("--loader-bad-checksums"))
        numberInto(&o->badChecksumsPerLine, 0, 1000);
    else if (a == QLatin1String("--loader-progress"))
        numberInto(&o->progressLines, 0, 1000);
    else if (a == QLatin1String("--loader-step-ms"))
        numberInto(&o->stepMs, 0, 600000);
    else if (a == QLatin1String("--loader-reset-ms"))
        numberInto(&o->resetMs, 0, 3600000);
    else if (a == QLatin1String("--loader-module-ms"))
        numberInto(&o->moduleMs, 0, 3600000);
    else if (a == QLatin1String("--loader-fail")) {
        o->failIn = value().toLower().toLatin1();
        if (error->isEmpty() && !QByteArrayList{"erase", "flash", "verify", "micro"}.contains(o->failIn))
            *error = QStringLiteral("--loader-fail wants erase, flash, verify or micro");
    } else
        return false;
    return true;
}

Loader::Loader(const LoaderOptions &options, QObject *parent)
    : QObject(parent), opt_(options), timer_(new QTimer(this))
{
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &Loader::nextWork);
}

bool Loader::goodRecord(const QByteArray &line)
{
    if (line.size() < 4 || line[0] != 'S' || addressBytes(line[1]) < 0)
        return false;
    QByteArray bytes;
    if (!hexBytes(line.mid(2), &bytes, true) || bytes.isEmpty())
        return false;
    const int count = quint8(bytes[0]);
    if (count != bytes.size() - 1 || count < addressBytes(line[1]) + 1)
        return false;
    unsigned sum = 0;
    for (char b : bytes)
        sum += quint8(b);
    return (sum & 0xFF) == 0xFF;
}

QByteArray Loader::headerText(const QByteArray &line)
{
    QByteArray bytes, out;
    if (!line.startsWith("S0") || !hexBytes(line.mid(2), &bytes, true) || bytes.size() < 4)
        return out;
    for (char c : bytes.mid(3, bytes.size() - 4))
        if (c >= 0x20 && c < 0x7F)
            out.append(c);
    return out.trimmed();
}

void Loader::reply(const QByteArray &text)
{
    if (Trace *t = globalTrace())
        t->sent(text, QStringLiteral("loader"));
    emit output(text);
}

bool Loader::takeLine(const QByteArray &line)
{
    const bool announcement = line.startsWith("PG") && (line.size() == 2 || line.size() == 6);
    if (state_ == State::Idle && !announcement)
        return false;
    if (Trace *t = globalTrace())
        t->received(line + '\r', QStringLiteral("loader"));
    if (line == "DE" || line == "EC") {
        state_ = State::Idle;
        timer_->stop();
        return true;
    }
    if (state_ == State::Working)
        return true; // the unit is busy; nothing it says depends on the server now
    if (announcement) {
        bool ok = false;
        announced_ = line.size() == 6 ? line.mid(2).toInt(&ok, 16) : -1;
        if (line.size() == 6 && !ok)
            announced_ = -1;
        state_ = State::Receiving;
        lines_ = 0;
        lastLine_.clear();
        version_.clear();
        serialDigits_.clear();
        reply("READY\r");
        return true;
    }
    if (line.isEmpty())
        return true; // a prompt: the line it asks about comes again
    if (line == "EF") {
        startWork();
        return true;
    }
    if (line == "UL") {
        state_ = State::Idle;
        emit moduleLoading(version_, opt_.moduleMs);
        return true;
    }
    if (line != lastLine_) {
        lastLine_ = line;
        badLeft_ = opt_.badChecksumsPerLine;
    }
    if (badLeft_ > 0 || !goodRecord(line)) {
        if (badLeft_ > 0)
            --badLeft_;
        reply("BC\r");
        return true;
    }
    ++lines_;
    if (line.startsWith("S0"))
        version_ = headerText(line);
    else if (QByteArray digits; line.startsWith("S20800200900") && hexBytes(line.mid(12, 6), &digits, true)) {
        serialDigits_.clear();
        for (char d : digits)
            serialDigits_.append(char('0' + quint8(d) % 10));
    }
    reply("GC\r");
    return true;
}

void Loader::startWork()
{
    state_ = State::Working;
    work_.clear();
    auto phase = [&](const char *name, const QByteArray &token) {
        for (int i = 0; i < opt_.progressLines; ++i)
            work_ << token + "\r";
        work_ << (opt_.failIn == name ? QByteArray("FAIL\r") : QByteArray("PASS\r"));
    };
    // A program that is not the one announced is refused before it is erased.
    const bool complete = announced_ < 0 || lines_ >= announced_;
    if (opt_.flavour == LoaderOptions::Flavour::Hd) {
        for (int sector = 0; sector < 8; ++sector)
            work_ << "FLASH" + QByteArray::number(sector) + "\r";
        work_ << (opt_.failIn == "flash" || !complete ? QByteArray("FAIL\r") : QByteArray("DONE\r"));
    } else if (!complete) {
        work_ << "FAIL\r";
    } else {
        phase("erase", "ERASE");
        phase("flash", "FLASH");
        phase("verify", "VERIFY");
        phase("micro", "MICRO");
        if (opt_.flavour == LoaderOptions::Flavour::Kh71)
            phase("micro", "MICRO");
        work_ << QByteArray() << "SUCCESS\r"; // the empty entry: the restart
    }
    timer_->start(opt_.stepMs);
}

void Loader::nextWork()
{
    if (state_ != State::Working || work_.isEmpty())
        return;
    const QByteArray line = work_.takeFirst();
    if (line.isEmpty()) {
        timer_->start(opt_.resetMs);
        return;
    }
    reply(line);
    if (line == "FAIL\r") {
        state_ = State::Idle;
        return;
    }
    if (line == "SUCCESS\r" || line == "DONE\r") {
        state_ = State::Idle;
        emit programLoaded(version_, serialDigits_);
        return;
    }
    timer_->start(opt_.stepMs);
}

void Loader::linkDown()
{
    // A unit at work goes on without a caller; one still receiving forgets it.
    if (state_ == State::Receiving)
        state_ = State::Idle;
}

} // namespace hdsim
