#include "lineframes.h"

#include <utility>

namespace hdsim {

void put8(QByteArray &f, int at, int v) { f[at] = char(quint8(v)); }

void put16(QByteArray &f, int at, int v)
{
    f[at] = char(quint8(v >> 8));
    f[at + 1] = char(quint8(v));
}

void put32(QByteArray &f, int at, qint64 v)
{
    for (int i = 0; i < 4; ++i)
        f[at + i] = char(quint8(v >> (8 * (3 - i))));
}

void putPresets(QByteArray &f, std::initializer_list<Preset> presets)
{
    for (const Preset &p : presets) {
        if (p.width == 4)
            put32(f, p.at, p.value);
        else if (p.width == 2)
            put16(f, p.at, int(p.value));
        else
            put8(f, p.at, int(p.value));
    }
}

int get8(const QByteArray &f, int at) { return quint8(f[at]); }
int get16(const QByteArray &f, int at) { return (get8(f, at) << 8) | get8(f, at + 1); }

void putText(QByteArray &f, int at, int width, const QByteArray &text, char pad)
{
    for (int i = 0; i < width; ++i)
        f[at + i] = i < text.size() ? text[i] : pad;
}

void pack12(QByteArray &f, int at, const QList<int> &values)
{
    for (int i = 0; i < values.size(); i += 2) {
        const int v0 = values[i] & 0xFFF;
        const int v1 = i + 1 < values.size() ? values[i + 1] & 0xFFF : 0;
        const int t = at + 3 * (i / 2);
        f[t] = char(quint8(v0));
        f[t + 1] = char(quint8(v1));
        f[t + 2] = char(quint8((v0 >> 8) | ((v1 >> 4) & 0xF0)));
    }
}

void scrubMarkers(QByteArray &f, int from, int to)
{
    for (int i = from; i + 2 <= to; ++i) {
        if (quint8(f[i]) == 0xFF && quint8(f[i + 1]) == 0xFE && quint8(f[i + 2]) == 0xFD)
            f[i + 2] = char(0xFC);
    }
}

// --- settings memory ----------------------------------------------------------

Settings::Settings(QList<Param> table, QByteArray image) : table_(std::move(table)), image_(std::move(image))
{
    for (int i = 0; i < table_.size(); ++i) {
        const int variants = table_[i].kind == ParamKind::Selected ? 2
            : table_[i].kind == ParamKind::Indexed                 ? 9
                                                                   : 1;
        for (int v = 0; v < variants; ++v)
            running_.append({i, v});
    }
}

const Param *Settings::find(int number) const
{
    for (const Param &p : table_) {
        if (p.number == number)
            return &p;
    }
    return nullptr;
}

int Settings::targetOf(const Param &p, int variant) const
{
    switch (p.kind) {
    case ParamKind::Plain: return p.offset;
    case ParamKind::Dependent: return get8(image_, p.selector) != 0 ? p.offset : p.offsetB;
    case ParamKind::Selected: return variant != 0 ? p.offset : p.offsetB;
    case ParamKind::Indexed: return p.offset + variant;
    }
    return p.offset;
}

int Settings::read(int offset, int width) const
{
    return width == 2 ? get16(image_, offset) : get8(image_, offset);
}

bool Settings::set(const Param &p, const QList<int> &pairs, Echo *echo, QString *why)
{
    int value = 0, variant = 0;
    switch (p.kind) {
    case ParamKind::Plain:
    case ParamKind::Dependent:
        if (pairs.size() != p.width) {
            *why = QStringLiteral("wants %1 value pair(s)").arg(p.width);
            return false;
        }
        value = p.width == 2 ? (pairs[0] << 8) | pairs[1] : pairs[0];
        break;
    case ParamKind::Selected:
        // Value then selector; a 16-bit value may come as one pair, as a
        // relay's change overlay carries it.
        if (pairs.size() < 2 || pairs.size() > p.width + 1) {
            *why = QStringLiteral("wants value and selector pairs");
            return false;
        }
        value = pairs.size() == 3 ? (pairs[0] << 8) | pairs[1] : pairs[0];
        variant = pairs.last() != 0 ? 1 : 0;
        break;
    case ParamKind::Indexed:
        if (pairs.size() != 2 || pairs[1] > 8) {
            *why = QStringLiteral("wants a value and a slot 00..08");
            return false;
        }
        value = pairs[0];
        variant = pairs[1];
        break;
    }
    const int at = targetOf(p, variant);
    if (p.width == 2)
        put16(image_, at, value);
    else
        put8(image_, at, value);
    *echo = echoOf(p, variant);
    return true;
}

Echo Settings::echoOf(const Param &p, int variant) const
{
    Echo e;
    e.bytes[0] = quint8(p.number);
    const int v = read(targetOf(p, variant), p.width);
    switch (p.kind) {
    case ParamKind::Plain:
    case ParamKind::Dependent:
        if (p.width == 2)
            e.bytes[3] = quint8(v >> 8);
        e.bytes[4] = quint8(v);
        break;
    case ParamKind::Selected:
        if (p.width == 2) {
            e.bytes[2] = quint8(v >> 8);
            e.bytes[3] = quint8(v);
        } else {
            e.bytes[3] = quint8(v);
        }
        e.bytes[4] = quint8(variant);
        break;
    case ParamKind::Indexed:
        e.bytes[3] = quint8(v);
        e.bytes[4] = quint8(variant);
        break;
    }
    return e;
}

Echo Settings::nextRunningEcho()
{
    if (running_.isEmpty())
        return Echo();
    const auto [index, variant] = running_[runningAt_];
    runningAt_ = (runningAt_ + 1) % running_.size();
    return echoOf(table_[index], variant);
}

// --- frames -----------------------------------------------------------------

QByteArray FrameSource::nextFrame()
{
    QByteArray f(frameSize, '\0');
    put8(f, 0, 0xFF);
    put8(f, 1, 0xFE);
    put8(f, 2, 0xFD);
    put8(f, 3, int(count_));
    const QList<int> cycle = pageCycle();
    const int page = cycle[cycleAt_];
    cycleAt_ = (cycleAt_ + 1) % cycle.size();
    fill(f, page, count_);
    const Echo e = pending_.isEmpty() ? settings_.nextRunningEcho() : pending_.takeFirst();
    for (int i = 0; i < 5; ++i)
        put8(f, 4 + i, e.bytes[i]);
    scrubMarkers(f, 1, frameSize - 1);
    seal(f);
    ++count_;
    return f;
}

bool FrameSource::changeParameter(int number, const QList<int> &pairs, QString *what)
{
    const Param *p = settings_.find(number);
    if (!p) {
        *what = QStringLiteral("parameter %1 unknown to this unit").arg(number);
        return false;
    }
    Echo e;
    if (!settings_.set(*p, pairs, &e, what)) {
        *what = QStringLiteral("parameter %1 ").arg(number) + *what;
        return false;
    }
    changed(number);
    queueEcho(e);
    *what = QStringLiteral("parameter %1 set, echo %2").arg(number).arg(
        QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(e.bytes), 5).toHex(' ').toUpper()));
    return true;
}

bool FrameSource::pressButton(int number, const QList<int> &pairs, QString *what)
{
    if (!pairs.isEmpty()) {
        *what = QStringLiteral("button %1 takes no value").arg(number);
        return false;
    }
    *what = QStringLiteral("button %1 pressed").arg(number);
    return true;
}

void FrameSource::queueEcho(const Echo &e)
{
    // Shown in the next two frames, then the running echo goes on.
    pending_.append(e);
    pending_.append(e);
    while (pending_.size() > 20)
        pending_.removeFirst();
}

} // namespace hdsim
