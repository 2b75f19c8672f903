#include "unit.h"

#include "trace.h"

#include <QTimer>

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
