#include "hayesmodem.h"

#include "trace.h"

#include <QTimer>

namespace {
constexpr int maxLine = 80; // Hayes command buffer
constexpr int guardMs = 1000;
const QByteArray crlf("\r\n");
}

HayesModem::HayesModem(Unit *inner, const ModemOptions &options, QObject *parent)
    : Unit(parent), inner_(inner), opt_(options), escapeTimer_(new QTimer(this))
{
    inner_->setParent(this);
    connect(inner_, &Unit::output, this, [this](const QByteArray &bytes) {
        if (online_)
            emit output(bytes);
    });
    escapeTimer_->setSingleShot(true);
    escapeTimer_->setInterval(guardMs);
    connect(escapeTimer_, &QTimer::timeout, this, [this]() {
        if (pluses_ != 3 || !online_)
            return;
        pluses_ = 0;
        online_ = false;
        if (Trace *t = globalTrace())
            t->note(QStringLiteral("modem escape to command mode"));
        result("OK");
    });
    lastData_.start();
}

void HayesModem::linkUp()
{
    echo_ = true;
    line_.clear();
    dialling_ = false;
    ++generation_;
}

void HayesModem::linkDown() { hangUp(); }

void HayesModem::hangUp()
{
    ++generation_;
    dialling_ = false;
    online_ = false;
    pluses_ = 0;
    escapeTimer_->stop();
    line_.clear();
    if (connected_) {
        connected_ = false;
        if (Trace *t = globalTrace())
            t->note(QStringLiteral("modem hang-up"));
        inner_->linkDown();
    }
}

void HayesModem::receive(const QByteArray &bytes)
{
    if (online_) {
        dataBytes(bytes);
        return;
    }
    for (char c : bytes)
        commandByte(c);
}

void HayesModem::dataBytes(const QByteArray &bytes)
{
    // Pass everything on; the pluses of an escape reach the unit too, as
    // they do through a real modem.
    for (char c : bytes) {
        if (c == '+' && (pluses_ > 0 || lastData_.elapsed() >= guardMs) && pluses_ < 3) {
            ++pluses_;
        } else {
            pluses_ = 0;
        }
    }
    lastData_.restart();
    if (pluses_ == 3)
        escapeTimer_->start();
    else
        escapeTimer_->stop();
    inner_->receive(bytes);
}

void HayesModem::commandByte(char c)
{
    if (opt_.silent)
        return;
    if (echo_)
        emit output(QByteArray(1, c));
    if (dialling_) {
        // Any key aborts a dial in progress.
        dialling_ = false;
        ++generation_;
        result("NO CARRIER");
        return;
    }
    if (c == '\r') {
        const QByteArray line = line_.trimmed();
        line_.clear();
        if (!line.isEmpty())
            runLine(line);
        return;
    }
    if (c == '\n')
        return;
    if (c == '\b' || c == 0x7F) {
        line_.chop(1);
        return;
    }
    // A command starts at "AT"; whatever came before it is line noise.
    if (line_.isEmpty() && c != 'A' && c != 'a')
        return;
    if (line_.size() == 1 && c != 'T' && c != 't') {
        line_.clear();
        if (c == 'A' || c == 'a')
            line_.append(c);
        return;
    }
    if (line_.size() < maxLine)
        line_.append(c);
}

void HayesModem::result(const QByteArray &word)
{
    if (opt_.silent)
        return;
    if (Trace *t = globalTrace())
        t->sent(word + crlf, QStringLiteral("modem"));
    emit output(word + crlf);
}

void HayesModem::runLine(const QByteArray &line)
{
    const QByteArray up = line.toUpper();
    if (!up.startsWith("AT"))
        return;
    if (Trace *t = globalTrace())
        t->received(line + '\r', QStringLiteral("modem ") + QString::fromLatin1(line));
    bool ok = true;
    int i = 2;
    auto digits = [&]() {
        int v = 0;
        while (i < up.size() && up[i] >= '0' && up[i] <= '9')
            v = v * 10 + (up[i++] - '0');
        return v;
    };
    while (i < up.size() && ok) {
        const char c = up[i++];
        switch (c) {
        case ' ':
            break;
        case 'D':
            if (i < up.size() && (up[i] == 'T' || up[i] == 'P'))
                ++i;
            dial(line.mid(i));
            return;
        case 'E':
            echo_ = digits() != 0;
            break;
        case 'Z':
            digits();
            echo_ = true;
            break;
        case 'H':
            digits();
            hangUp();
            break;
        case 'O':
            digits();
            if (connected_) {
                online_ = true;
                result(opt_.dialResult);
                return;
            }
            ok = false;
            break;
        case '&':
            if (i < up.size())
                ++i;
            digits();
            break;
        case 'S':
            digits();
            if (i < up.size() && (up[i] == '=')) {
                ++i;
                digits();
            } else if (i < up.size() && up[i] == '?') {
                ++i;
            }
            break;
        default:
            if (c >= 'A' && c <= 'Z')
                digits();
            else
                ok = false;
            break;
        }
    }
    if (!opt_.echoOnly)
        result(ok ? "OK" : "ERROR");
}

void HayesModem::dial(const QByteArray &number)
{
    if (Trace *t = globalTrace())
        t->note(QStringLiteral("modem dials ") + QString::fromLatin1(number));
    if (connected_)
        hangUp();
    dialling_ = true;
    const int generation = ++generation_;
    QTimer::singleShot(std::max(0, opt_.connectDelayMs), this, [this, generation]() {
        if (generation != generation_ || !dialling_)
            return;
        dialling_ = false;
        result(opt_.dialResult);
        if (opt_.dialResult.startsWith("CONNECT")) {
            connected_ = true;
            online_ = true;
            lastData_.restart();
            inner_->linkUp();
        }
    });
}
