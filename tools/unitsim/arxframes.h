// The 100-byte data frames an Arxon unit sends in answer to a poll: sync,
// descriptor, measurement blocks with their checksums and setting echoes, and
// one multiplexed identity/configuration message per frame.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace arxsim {

// Module kinds that may be fitted to a unit (bit mask).
enum Module : unsigned {
    ModKm71 = 0x001,
    ModKs71 = 0x002,
    ModKr71 = 0x004,
    ModKc71 = 0x008, // both channels
    ModOption = 0x010,
    ModKv73 = 0x020,
    ModKv75 = 0x040,
    ModKa71 = 0x080,
    ModKa72 = 0x100,
};

constexpr unsigned layout1Modules = ModKm71 | ModKs71 | ModKr71 | ModKc71 | ModOption;
constexpr unsigned layout2Modules = ModKv73 | ModKv75;

enum class Layout { Fm = 1, Tv = 2, Am = 3 };

struct ModelInfo {
    QByteArray id;     // what the unit answers to identify
    Layout layout;
    unsigned ownModule; // the module whose block carries the relay echoes
    int amSubType;      // 1 KA-71, 2 KA-72, else 0
};

// Known model ids; false when the id is not one of them.
bool modelInfo(const QByteArray &id, ModelInfo *info);
QStringList knownModelIds();
// "km71,ks71,option" -> mask; false on an unknown name.
bool parseModules(const QString &list, unsigned *mask);

// A setting echo: parameter code and value; code 255 = nothing to echo.
struct Echo {
    quint8 code = 255;
    quint16 value = 0xFFFF;
};

// Sum of bytes modulo 256, the checksum of every block and message.
quint8 byteSum(const QByteArray &bytes, int from, int to);

class FrameBuilder
{
public:
    FrameBuilder(const ModelInfo &model, unsigned modules);

    // Layout 1 only: split each record over a sub-type 11 and a sub-type 10
    // frame, interleaved with auxiliary words.
    void setInterleaved(bool on) { interleaved_ = on; }
    // Mark every n-th record for the history table (0 = never).
    void setHistoryEvery(int n) { historyEvery_ = n; }
    // Shown in the own module's echo of the next record.
    void queueEcho(const Echo &echo);

    // The next frame. Byte 99 (not decoded) holds the frame count modulo
    // 256; interleaved frames carry the count in their last auxiliary word.
    QByteArray nextFrame();

    // The identity/configuration messages cycled through the information
    // block, in order; exposed so the cycle can be reasoned about.
    const QList<QByteArray> &messages() const { return messages_; }

private:
    QByteArray buildRecord();
    void fillBlock(QByteArray &rec, int first, int count, unsigned module, quint8 historyMask,
                   int seed) const;
    void fillEcho(QByteArray &rec, int codeSlot, bool wide, unsigned module,
                  const QList<quint8> &codes);
    QByteArray auxiliary(int half) const;

    ModelInfo model_;
    unsigned modules_;
    bool interleaved_ = false;
    int historyEvery_ = 10;
    qint64 records_ = 0;
    qint64 frames_ = 0;
    int messageIndex_ = 0;
    int half_ = 0;
    QByteArray pendingRecord_;
    QList<Echo> echoQueue_;
    QList<QByteArray> messages_;
};

} // namespace arxsim
