#include "arxframes.h"

#include <QStringList>

#include <initializer_list>

namespace arxsim {

namespace {

constexpr int frameSize = 100;

const ModelInfo models[] = {
    {"KM71", Layout::Fm, ModKm71, 0}, {"KS71", Layout::Fm, ModKs71, 0},
    {"KR71", Layout::Fm, ModKr71, 0}, {"KC71", Layout::Fm, ModKc71, 0},
    {"KV71", Layout::Tv, ModKv73, 0}, {"KV73", Layout::Tv, ModKv73, 0},
    {"KV75", Layout::Tv, ModKv75, 0}, {"KA71", Layout::Am, ModKa71, 1},
    {"KA72", Layout::Am, ModKa72, 2},
};

struct ModuleName {
    const char *name;
    unsigned bit;
};
const ModuleName moduleNames[] = {
    {"km71", ModKm71}, {"ks71", ModKs71}, {"kr71", ModKr71}, {"kc71", ModKc71},
    {"option", ModOption}, {"kv73", ModKv73}, {"kv75", ModKv75}, {"ka71", ModKa71},
    {"ka72", ModKa72},
};

void put(QByteArray &m, int at, quint8 v) { m[at] = char(v); }
// Bytes from `at` on.
void put(QByteArray &m, int at, std::initializer_list<quint8> bytes)
{
    for (quint8 b : bytes)
        m[at++] = char(b);
}

// Fixed-width text, blank padded, as the decoder reads it character by character.
void putText(QByteArray &m, int at, int width, const char *text)
{
    const QByteArray t = QByteArray(text).leftJustified(width, ' ', true);
    for (int i = 0; i < width; ++i)
        m[at + i] = t[i];
}

// Checksum byte at `at` = sum of bytes from..to.
void seal(QByteArray &m, int at, int from, int to) { m[at] = char(byteSum(m, from, to)); }

// Layout 1 ------------------------------------------------------------------

QByteArray km71Identity()
{
    QByteArray m(20, '\0');
    put(m, 0, 0x00);
    put(m, 2, {23, 'C', 12, 34, 5}); // version 2.3, serial 301234
    putText(m, 10, 10, "FM MONITOR");
    seal(m, 1, 2, 19);
    return m;
}

QByteArray km71Config()
{
    QByteArray m(19, '\0');
    put(m, 0, 0x01);
    // Words 0x012C = 300 and 0x2710 = 10000 (100.00 MHz in 10 kHz steps).
    put(m, 3, {7, 0x2C, 0x01, 0x68, 0x27, 75, 19, 0xE8, 0x03});
    for (int i = 12; i <= 18; ++i)
        put(m, i, quint8(i * 3));
    put(m, 15, 0x25); // flag byte: bits 0, 2 and 5
    seal(m, 1, 2, 18);
    return m;
}

QByteArray optionText()
{
    QByteArray m(15, '\0');
    put(m, 0, 0x10);
    putText(m, 1, 12, "RDS ENCODER");
    put(m, 13, 3);
    seal(m, 14, 1, 13);
    return m;
}

QByteArray optionIdentity()
{
    QByteArray m(24, '\0');
    put(m, 0, 0x11);
    putText(m, 1, 6, "KO-71");
    put(m, 7, {100 + 0x12, 100 + 0x34}); // id 311234
    putText(m, 9, 4, "A001");
    putText(m, 13, 10, "V1.05");
    seal(m, 23, 1, 22);
    return m;
}

QByteArray optionLabel(char digit, const char *text)
{
    QByteArray m(15, '\0');
    put(m, 0, 0x12);
    put(m, 1, quint8(digit));
    putText(m, 2, 12, text);
    seal(m, 14, 2, 13);
    return m;
}

// KS-71 and KR-71 carry configuration and identity in one message.
QByteArray ksKrMessage(quint8 descriptor, quint8 flags, quint8 serialHigh)
{
    QByteArray m(19, '\0');
    put(m, 0, descriptor);
    put(m, 3, {4, flags, 14, 'A', serialHigh, 7}); // version 1.4
    putText(m, 9, 10, descriptor == 0x20 ? "STEREO" : "RECEIVER");
    seal(m, 1, 2, 18);
    return m;
}

QByteArray kcIdentity(int channel)
{
    QByteArray m(17, '\0');
    put(m, 0, quint8(0x40 + 0x10 * channel));
    put(m, 3, {11, 'B', 45, quint8(60 + channel)}); // version 1.1
    putText(m, 7, 10, channel == 0 ? "CHANNEL 0" : "CHANNEL 1");
    seal(m, 1, 2, 16);
    return m;
}

// Bytes 4 and 16 stay the same from message to message: the decoder only
// counts a channel as present once two configurations agree on them.
QByteArray kcConfig(int channel)
{
    QByteArray m(17, '\0');
    put(m, 0, quint8(0x41 + 0x10 * channel));
    put(m, 3, {1, quint8(20 + channel), 30, 40, 0x05});
    for (int i = 8; i <= 14; ++i)
        put(m, i, quint8(i + channel));
    put(m, 14, {0xA1, 9, 0x94}); // byte 16: bits 2, 4, 7
    seal(m, 1, 2, 16);
    return m;
}

// Layout 2 ------------------------------------------------------------------

QByteArray tvIdentity(bool kv75)
{
    QByteArray m(16, '\0');
    put(m, 0, kv75 ? 0x30 : 0x20);
    put(m, 2, {quint8(kv75 ? 31 : 27), 'D', quint8(kv75 ? 56 : 23), 78});
    putText(m, 6, 10, kv75 ? "TV AURAL" : "TV VISUAL");
    seal(m, 1, 2, 15);
    return m;
}

QByteArray kv73Config()
{
    QByteArray m(14, '\0');
    put(m, 0, 0x21);
    put(m, 3, {2, 0x5A, 0x01});
    for (int i = 6; i <= 13; ++i)
        put(m, i, quint8(10 * i));
    seal(m, 1, 2, 13);
    return m;
}

QByteArray kv75Config()
{
    QByteArray m(13, '\0');
    put(m, 0, 0x31);
    // Byte 8: 3-bit field 2, 2-bit field 1.
    put(m, 3, {3, 0x11, 50, 60, 70, 0x21, 90, 100, 110, 0x03});
    seal(m, 1, 2, 12);
    return m;
}

// Layout 3 ------------------------------------------------------------------

QByteArray amIdentity(int subType)
{
    QByteArray m(20, '\0');
    put(m, 0, 0x00);
    put(m, 2, {quint8(subType == 1 ? 15 : 21), 'A', 90, quint8(subType)});
    putText(m, 10, 10, subType == 1 ? "AM MONITOR" : "AM STEREO");
    seal(m, 1, 2, 19);
    return m;
}

QByteArray amConfig(int subType)
{
    const int last = subType == 1 ? 21 : 26;
    QByteArray m(last + 1, '\0');
    put(m, 0, 0x01);
    for (int i = 3; i <= last; ++i)
        put(m, i, quint8(5 * i));
    if (subType == 1)
        put(m, 21, 0x13); // flag byte, bits 0-4
    seal(m, 1, 2, last);
    return m;
}

QList<QByteArray> messagesFor(const ModelInfo &model, unsigned modules)
{
    QList<QByteArray> list;
    switch (model.layout) {
    case Layout::Fm:
        if (modules & ModKm71)
            list << km71Identity() << km71Config();
        if (modules & ModOption)
            list << optionText() << optionIdentity() << optionLabel('0', "STUDIO A")
                 << optionLabel('1', "STUDIO B");
        if (modules & ModKs71)
            list << ksKrMessage(0x20, 0x15, 35);
        if (modules & ModKr71)
            list << ksKrMessage(0x30, 0x09, 36);
        if (modules & ModKc71)
            list << kcIdentity(0) << kcConfig(0) << kcIdentity(1) << kcConfig(1);
        break;
    case Layout::Tv:
        if (modules & ModKv73)
            list << tvIdentity(false) << kv73Config();
        if (modules & ModKv75)
            list << tvIdentity(true) << kv75Config();
        break;
    case Layout::Am:
        list << amIdentity(model.amSubType) << amConfig(model.amSubType);
        break;
    }
    return list;
}

} // namespace

bool modelInfo(const QByteArray &id, ModelInfo *info)
{
    for (const ModelInfo &m : models) {
        if (m.id == id) {
            *info = m;
            return true;
        }
    }
    return false;
}

QStringList knownModelIds()
{
    QStringList ids;
    for (const ModelInfo &m : models)
        ids << QString::fromLatin1(m.id);
    return ids;
}

bool parseModules(const QString &list, unsigned *mask)
{
    unsigned result = 0;
    const QStringList parts = list.toLower().split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (QString part : parts) {
        part = part.trimmed().remove(QLatin1Char('-'));
        bool found = false;
        for (const ModuleName &n : moduleNames) {
            if (part == QLatin1String(n.name)) {
                result |= n.bit;
                found = true;
            }
        }
        if (!found)
            return false;
    }
    *mask = result;
    return true;
}

quint8 byteSum(const QByteArray &bytes, int from, int to)
{
    unsigned sum = 0;
    for (int i = from; i <= to && i < bytes.size(); ++i)
        sum += quint8(bytes[i]);
    return quint8(sum & 0xFF);
}

FrameBuilder::FrameBuilder(const ModelInfo &model, unsigned modules) : model_(model)
{
    // Only modules that speak this model's layout can appear in its frames;
    // the model's own module is always fitted.
    unsigned allowed = 0;
    switch (model.layout) {
    case Layout::Fm: allowed = layout1Modules; break;
    case Layout::Tv: allowed = layout2Modules; break;
    case Layout::Am: allowed = model.ownModule; break;
    }
    modules_ = (modules & allowed) | model.ownModule;
    messages_ = messagesFor(model_, modules_);
}

void FrameBuilder::queueEcho(const Echo &echo)
{
    // A unit only reports its latest changes; keep the queue short.
    if (echoQueue_.size() >= 16)
        echoQueue_.removeFirst();
    echoQueue_.append(echo);
}

void FrameBuilder::fillBlock(QByteArray &rec, int first, int count, unsigned module,
                             quint8 historyMask, int seed) const
{
    const bool fitted = modules_ & module;
    const bool history = historyEvery_ > 0 && records_ % historyEvery_ == historyEvery_ - 1;
    for (int i = 0; i < count; ++i) {
        quint8 v = 0;
        if (fitted) // slowly moving readings, different per byte
            v = quint8(40 + 7 * i + seed + (records_ * (i % 5 + 1)) % 23);
        rec[first + i] = char(v);
    }
    if (fitted) {
        quint8 status = 0x02;
        if (history)
            status |= historyMask;
        rec[first + count - 1] = char(status);
    }
    rec[first + count] = char(byteSum(rec, first, first + count - 1));
}

void FrameBuilder::fillEcho(QByteArray &rec, int codeSlot, bool wide, unsigned module,
                            const QList<quint8> &codes)
{
    Echo echo;
    if (module == model_.ownModule && !echoQueue_.isEmpty()) {
        echo = echoQueue_.takeFirst();
    } else if ((modules_ & module) && !codes.isEmpty() && records_ % 7 == 3) {
        // Now and then a module reports one of its settings unasked.
        echo.code = codes[int(records_ / 7 % codes.size())];
        echo.value = quint16(records_ % 50);
    }
    rec[codeSlot] = char(echo.code);
    rec[codeSlot + 1] = char(echo.value & 0xFF);
    if (wide)
        rec[codeSlot + 2] = char(echo.value >> 8);
}

QByteArray FrameBuilder::buildRecord()
{
    QByteArray rec(frameSize, '\0');
    rec[0] = char(0xFF);
    rec[1] = char(0xFE);
    rec[2] = char(0xFD);
    int infoAt = 75;
    switch (model_.layout) {
    case Layout::Fm:
        rec[3] = char(0xFC);
        fillBlock(rec, 4, 21, ModKm71, 0x01, 0);
        fillEcho(rec, 26, true, ModKm71, {1, 2, 5, 3});
        fillBlock(rec, 29, 21, ModKs71, 0x80, 3);
        fillEcho(rec, 51, false, ModKs71, {17, 20, 15});
        fillBlock(rec, 53, 7, ModKr71, 0x80, 5);
        fillEcho(rec, 61, false, ModKr71, {12, 10});
        fillBlock(rec, 63, 7, ModKc71, 0x80, 9);
        if (modules_ & ModKc71) {
            // One channel per frame, alternating; status bit 7 asks the
            // server to check the block and take its values.
            rec[63] = records_ % 2 ? '1' : '0';
            rec[69] = char(quint8(rec[69]) | 0x80);
            rec[70] = char(byteSum(rec, 63, 69));
        }
        fillEcho(rec, 71, false, ModKc71, {2, 4, 20});
        infoAt = 75;
        break;
    case Layout::Tv:
        rec[3] = char(0xE0);
        fillBlock(rec, 4, 27, ModKv73, 0x80, 0);
        fillEcho(rec, 32, false, ModKv73, {18, 19, 29});
        fillBlock(rec, 34, 7, ModKv75, 0x80, 4);
        fillEcho(rec, 42, false, ModKv75, {8, 9, 24});
        infoAt = 76;
        break;
    case Layout::Am:
        rec[3] = char(0xC0 | model_.amSubType);
        if (model_.amSubType == 1) {
            fillBlock(rec, 4, 20, ModKa71, 0x01, 0);
            fillEcho(rec, 25, true, ModKa71, {16, 17, 38});
            infoAt = 28;
        } else {
            fillBlock(rec, 4, 24, ModKa72, 0x01, 0);
            fillEcho(rec, 29, true, ModKa72, {21, 22, 42});
            infoAt = 70;
        }
        break;
    }
    if (!messages_.isEmpty()) {
        const QByteArray &m = messages_[messageIndex_ % messages_.size()];
        messageIndex_ = (messageIndex_ + 1) % messages_.size();
        for (int i = 0; i < m.size() && infoAt + i < frameSize - 1; ++i)
            rec[infoAt + i] = m[i];
    }
    ++records_;
    return rec;
}

// 24 big-endian words per half, as a unit's auxiliary readings.
QByteArray FrameBuilder::auxiliary(int half) const
{
    QByteArray aux;
    for (int k = 0; k < 24; ++k) {
        const quint16 w = quint16(1000 * (half + 1) + 10 * k + records_ % 100);
        aux.append(char(w >> 8));
        aux.append(char(w & 0xFF));
    }
    return aux;
}

QByteArray FrameBuilder::nextFrame()
{
    // Readings repeat after a few dozen frames; the frame count makes every
    // frame differ from its neighbours, so that a test matching frames by
    // content sees a lost one.
    const quint16 count = quint16(frames_++);
    if (!interleaved_ || model_.layout != Layout::Fm) {
        QByteArray rec = buildRecord();
        rec[frameSize - 1] = char(count & 0xFF); // byte 99 is not decoded
        return rec;
    }
    // Sub-type 11 carries record slots 4-51 on its even bytes, sub-type 10
    // slots 52-99; the odd bytes carry the auxiliary words.
    if (half_ == 0)
        pendingRecord_ = buildRecord();
    QByteArray frame(frameSize, '\0');
    frame[0] = char(0xFF);
    frame[1] = char(0xFE);
    frame[2] = char(0xFD);
    frame[3] = char(half_ == 0 ? 0xFB : 0xFA);
    QByteArray aux = auxiliary(half_);
    // The last auxiliary word (frame bytes 97 and 99) is the frame count.
    aux[46] = char(count >> 8);
    aux[47] = char(count & 0xFF);
    const int base = half_ == 0 ? 4 : 52;
    for (int k = 0; k < 48; ++k) {
        frame[4 + 2 * k] = pendingRecord_[base + k];
        frame[5 + 2 * k] = aux[k];
    }
    half_ = 1 - half_;
    return frame;
}

} // namespace arxsim
