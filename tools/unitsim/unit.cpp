#include "unit.h"

#include "trace.h"

#include <QTimer>

int rangedNumber(const QString &text, int min, int max, bool *ok)
{
    const int v = text.toInt(ok);
    *ok = *ok && v >= min && v <= max;
    return v;
}

int parseLevel(const QString &text)
{
    const QString t = text.trimmed().toUpper();
    if (t == QLatin1String("SUPERVISOR"))
        return LevelSupervisor;
    if (t == QLatin1String("OPERATOR"))
        return LevelOperator;
    if (t == QLatin1String("OBSERVER"))
        return LevelObserver;
    return LevelNone;
}

QByteArray levelWord(int level)
{
    switch (level) {
    case LevelSupervisor: return "SUPERVISOR";
    case LevelOperator: return "OPERATOR";
    case LevelObserver: return "OBSERVER";
    default: return "NONE";
    }
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool hexBytes(const QByteArray &text, QByteArray *out, bool lowerToo)
{
    auto digit = [lowerToo](char c) { return lowerToo && c >= 'a' && c <= 'f' ? c - 'a' + 10 : hexDigit(c); };
    if (text.size() % 2)
        return false;
    out->clear();
    for (qsizetype i = 0; i < text.size(); i += 2) {
        const int hi = digit(text[i]), lo = digit(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out->append(char(hi * 16 + lo));
    }
    return true;
}

void Unit::reply(const QByteArray &bytes, const QString &name, bool isFrame)
{
    if (silent_)
        return;
    auto send = [this, bytes, name, isFrame, generation = generation_]() {
        if (generation != generation_)
            return;
        if (Trace *t = globalTrace()) {
            if (isFrame)
                t->frame(bytes);
            else
                t->sent(bytes, name);
        }
        emit output(bytes);
    };
    if (replyDelayMs_ <= 0)
        send();
    else
        QTimer::singleShot(replyDelayMs_, this, send);
}
