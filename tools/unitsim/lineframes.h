// What the line-protocol units (KH-71, KH-72, KF-71) share in their data
// frames: 1501 bytes behind FF FE FD, big-endian numbers, 12-bit values in
// byte triples, one parameter echoed per frame, and a settings memory that
// the unit shows as its page-0 image. The two families differ only in their
// parameter tables and page layouts (hdframes.cpp, kfframes.cpp).
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <initializer_list>

namespace hdsim {

constexpr int frameSize = 1501;

void put8(QByteArray &f, int at, int v);
void put16(QByteArray &f, int at, int v); // big-endian, low 16 bits
void put32(QByteArray &f, int at, qint64 v);
// A value of a factory image: `width` bytes (1, 2 or 4) at `at`.
struct Preset {
    int at;
    int width;
    qint64 value;
};
void putPresets(QByteArray &f, std::initializer_list<Preset> presets);
int get8(const QByteArray &f, int at);
int get16(const QByteArray &f, int at);
// Fixed width, padded with `pad`, cut when longer.
void putText(QByteArray &f, int at, int width, const QByteArray &text, char pad = ' ');
// Signed 12-bit values, two per byte triple (b0, b1, b2): v0 = b0 + (b2 low
// nibble << 8), v1 = b1 + (b2 high nibble << 4).
void pack12(QByteArray &f, int at, const QList<int> &values);
// A marker inside the body would let a receiver that lost its place start a
// frame there: nudge the third byte of any such run after the start.
void scrubMarkers(QByteArray &f, int from, int to);

// How a parameter sits in the unit's settings memory (frame offsets of the
// page-0 image) and how it is echoed in bytes 4..8 of a frame.
enum class ParamKind {
    Plain,     // value at `offset`
    Dependent, // at `offset` when the byte at `selector` is not 0, else at `offsetB`
    Selected,  // the command's last pair picks: not 0 -> `offset`, 0 -> `offsetB`
    Indexed,   // nine slots from `offset`; the command's last pair is the slot
};

struct Param {
    int number;
    ParamKind kind;
    int width;  // 1 or 2 bytes
    int offset;
    int offsetB = 0;
    int selector = 0;
};

// Frame bytes 4..8.
struct Echo {
    quint8 bytes[5] = {0xFF, 0, 0, 0, 0};
};

// The unit's settings memory, changed by "CC" lines and read back as echoes.
class Settings
{
public:
    Settings(QList<Param> table, QByteArray image);

    const QByteArray &image() const { return image_; }
    QByteArray &image() { return image_; }
    const Param *find(int number) const;

    // Value pairs as they follow the number in a "CC" line (already checked
    // as hex). False, with the reason in `why`, when they do not fit `p`.
    bool set(const Param &p, const QList<int> &pairs, Echo *echo, QString *why);
    // The echo that shows parameter `p` as it stands; `variant` picks the
    // slot of a selected (0 = B, 1 = A) or indexed (0..8) parameter.
    Echo echoOf(const Param &p, int variant) const;
    // Every parameter (and variant) in turn, for the frames' running echo.
    Echo nextRunningEcho();

private:
    int targetOf(const Param &p, int variant) const;
    int read(int offset, int width) const;

    QList<Param> table_;
    QByteArray image_;
    QList<QPair<int, int>> running_; // table index, variant
    int runningAt_ = 0;
};

// A family's frames: the page cycle, the echo of changed parameters, the
// running echo otherwise.
class FrameSource
{
public:
    explicit FrameSource(Settings settings) : settings_(std::move(settings)) {}
    virtual ~FrameSource() = default;

    // The data was started: begin the page cycle again (page 0 first).
    void restart() { cycleAt_ = 0; }
    QByteArray nextFrame();

    // A checked "CC" line's number and value pairs. False, with the reason,
    // when the unit does not take it.
    bool changeParameter(int number, const QList<int> &pairs, QString *what);
    // A checked "PB" line; a plain button takes no value.
    virtual bool pressButton(int number, const QList<int> &pairs, QString *what);
    // The alarm table's states stay as they are unless this is set: then
    // the first entry of the first group shows the other state.
    bool alarmChanged = false;

    Settings &settings() { return settings_; }

protected:
    virtual QList<int> pageCycle() const = 0;
    // Everything but the marker, byte 3 and the echo.
    virtual void fill(QByteArray &frame, int page, qint64 count) = 0;
    // Last touch, after the echo is in (a check value, for instance).
    virtual void seal(QByteArray &frame) { Q_UNUSED(frame); }
    // A parameter changed: values the unit derives from it follow.
    virtual void changed(int number) { Q_UNUSED(number); }
    void queueEcho(const Echo &e);

    Settings settings_;
    qint64 count_ = 0;

private:
    int cycleAt_ = 0;
    QList<Echo> pending_; // changes not yet shown
};

} // namespace hdsim
