#include "hdframes.h"

#include <cstdlib>

namespace hdsim {

namespace {

// Where each parameter of an HD monitor lives in its page-0 image.
QList<Param> hdTable()
{
    QList<Param> t = {
        {15, ParamKind::Plain, 2, 1205}, {16, ParamKind::Plain, 1, 1207}, {17, ParamKind::Plain, 1, 1443},
        {18, ParamKind::Plain, 1, 1208}, {19, ParamKind::Plain, 2, 1209}, {20, ParamKind::Plain, 1, 1211},
        {21, ParamKind::Plain, 1, 1212}, {22, ParamKind::Plain, 1, 1213}, {23, ParamKind::Plain, 1, 1216},
        {24, ParamKind::Plain, 2, 1214}, {25, ParamKind::Plain, 2, 1217}, {26, ParamKind::Plain, 2, 1223},
        {27, ParamKind::Plain, 1, 1227}, {28, ParamKind::Plain, 1, 1228}, {29, ParamKind::Plain, 1, 1229},
        // Parameter 30 has one value per mode of parameter 16.
        {30, ParamKind::Dependent, 2, 1232, 1230, 1207},
        {31, ParamKind::Plain, 1, 1234}, {32, ParamKind::Plain, 1, 1235}, {33, ParamKind::Plain, 1, 1236},
        {34, ParamKind::Plain, 2, 1237}, {35, ParamKind::Plain, 2, 1239}, {36, ParamKind::Plain, 1, 1241},
        {162, ParamKind::Indexed, 1, 1432}, {163, ParamKind::Plain, 1, 1441},
        // Button values are kept as parameters too; 202 and 205 share one.
        {202, ParamKind::Plain, 1, 1425}, {205, ParamKind::Plain, 1, 1425}, {206, ParamKind::Plain, 1, 1426},
        {207, ParamKind::Plain, 1, 1427}, {208, ParamKind::Plain, 1, 1428},
    };
    for (int n = 67; n <= 83; ++n)
        t.append({n, ParamKind::Plain, 1, n + 1229});
    for (int n = 84; n <= 88; ++n)
        t.append({n, ParamKind::Plain, 1, n + 1207});
    for (int m = 0; m <= 21; ++m) {
        t.append({96 + 3 * m, ParamKind::Plain, 2, 1315 + 5 * m});
        t.append({97 + 3 * m, ParamKind::Plain, 2, 1317 + 5 * m});
        t.append({98 + 3 * m, ParamKind::Plain, 1, 1319 + 5 * m});
    }
    return t;
}

// A station's settings as a unit leaves the factory, with a few signed and
// full-scale values among them.
QByteArray hdImage()
{
    QByteArray f(frameSize, '\0');
    for (int at = 1258; at <= 1312; ++at)
        put8(f, at, (at * 7) % 13);
    putPresets(f, {
        {1202, 2, 0x0101}, {1205, 2, 9870}, // tuned to 98.70 MHz
        {1208, 1, 1}, {1209, 2, 500}, {1211, 1, 0xFF}, // -1 read as signed
        {1212, 1, 2}, {1213, 1, 3}, {1214, 2, -120}, {1216, 1, 4}, {1217, 2, 250}, {1219, 4, 98700},
        {1223, 2, 1000}, {1225, 2, -300}, {1227, 1, 1}, {1229, 1, 1}, {1230, 2, -1800}, {1232, 2, -2400},
        {1234, 1, 10}, {1235, 1, 20}, {1236, 1, 30}, {1237, 2, -50}, {1239, 2, 75}, {1241, 1, 1},
        {1245, 2, -600}, {1247, 1, 3}, {1248, 2, 0x7FFF}, {1250, 4, 88100}, {1254, 2, 0xFFFF},
        {1256, 2, -32768}, {1274, 4, 107900},
    });
    for (int m = 0; m <= 21; ++m) {
        put16(f, 1315 + 5 * m, -100 * m);
        put16(f, 1317 + 5 * m, 1000 + m);
        put8(f, 1319 + 5 * m, m);
    }
    for (int i = 0; i < 5; ++i)
        put8(f, 1425 + i, i + 1);
    put16(f, 1430, 0x1234);
    for (int i = 0; i < 9; ++i)
        put8(f, 1432 + i, 10 + i);
    put8(f, 1441, 7);
    put8(f, 1443, 2);
    return f;
}

// Meter and spectrum values that move from frame to frame; the first four
// are the edges of the 12-bit range.
QList<int> moving12(int n, qint64 count, int shape)
{
    QList<int> v(n);
    for (int i = 0; i < n; ++i) {
        if (shape == 0 && i < 4) {
            static const int edges[4] = {-2048, 2047, -1, 0};
            v[i] = edges[i];
        } else if (shape == 0) {
            v[i] = int((i * 97 + count * 13) % 4096) - 2048;
        } else {
            const int peak = 1800 - 12 * std::abs(i - n / 2);
            v[i] = std::max(-2048, std::min(2047, peak + int((count * 7 + i * 31) % 64)));
        }
    }
    return v;
}

} // namespace

HdFrames::HdFrames(bool kh72) : FrameSource(Settings(hdTable(), hdImage())), kh72_(kh72) {}

QList<int> HdFrames::pageCycle() const { return {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 18}; }

void HdFrames::fill(QByteArray &f, int page, qint64 count)
{
    const QByteArray &image = settings_.image();
    put16(f, 9, kh72_ ? 0x0072 : 0x0071);
    put32(f, 11, count);

    // Main block: lock and audio flags, programme count, the tuned frequency
    // and a signal-to-noise figure that wanders.
    const quint8 main[18] = {1, 1, 3, 0, 5, 6, 7, 1, 2, 3, 0, 1, 0, 1, 0, 1, 0, 1};
    for (int i = 0; i < 18; ++i)
        put8(f, 17 + i, main[i]);
    put8(f, 27, int(count % 4));
    putText(f, 35, 4, "HD1 ");
    put8(f, 39, 88);
    put16(f, 40, get16(image, 1205));
    put16(f, 43, 3500 + int(count % 50) * 10);
    put16(f, 45, 0x00A5);
    put16(f, 47, int(count & 0xFFFF));

    const quint8 sis[5] = {1, 0, 2, 3, 4};
    for (int i = 0; i < 5; ++i)
        put8(f, 49 + i, sis[i]);
    put32(f, 54, 123456);
    put8(f, 58, 1);

    pack12(f, 60, moving12(126, count, 0));

    // Levels in hundredths of a dB: peak, average, minimum and two more,
    // the last two touching the sign rule's edges now and then.
    put8(f, 249, 1);
    put8(f, 250, 2);
    put16(f, 251, 1000 + int(count % 100));
    put16(f, 253, -300 - int(count % 20) * 10);
    put16(f, 255, -1800 - int(count % 10) * 20);
    put16(f, 257, -4200 + int(count % 30));
    put16(f, 259, count % 32 == 0 ? 0x8000 : -6000);
    put16(f, 261, count % 32 == 16 ? 0x8001 : 1200);

    const qint64 counters[8] = {count, count / 8, 0, count * frameSize, 42, 7, 0xFFFFFFFF, 1};
    for (int i = 0; i < 8; ++i)
        put32(f, 263 + 4 * i, counters[i]);

    pack12(f, 295, moving12(509, count, 1));

    put8(f, 1200, page);
    if (page == 0) {
        f.replace(1201, 298, image.mid(1201, 298));
    } else if (page == 1) {
        stationPage(f);
    } else if (page >= 2 && page <= 10) {
        programmePage(f, page - 1, count);
    } else if (page == 18) {
        // Four groups of twelve (limit, state) pairs; group 0's header is the
        // page byte itself.
        for (int g = 0; g < 4; ++g) {
            if (g > 0)
                put8(f, 1200 + 25 * g, g);
            for (int j = 0; j < 12; ++j) {
                put8(f, 1201 + 25 * g + 2 * j, 5 * j + g);
                put8(f, 1202 + 25 * g + 2 * j, int((j % 2) ^ (alarmChanged && g == 0 && j == 0)));
            }
        }
    }
}

void HdFrames::stationPage(QByteArray &f) const
{
    putText(f, 1201, 6, "TOLVA1");
    putText(f, 1207, 2, "US");
    putText(f, 1209, 4, "0001");
    // The unit writes the degree sign as "|".
    putText(f, 1213, 12, "40|26.770 N ");
    putText(f, 1225, 12, "079|58.920 W");
    putText(f, 1237, 7, kh72_ ? "WKHT-FM" : "WTLV-FM");
    putText(f, 1244, 56, "Tolva Radio - the sound of the valley");
}

void HdFrames::programmePage(QByteArray &f, int programme, qint64 count) const
{
    put8(f, 1201, programme);
    put8(f, 1202, 3 * programme);
    put8(f, 1203, 1);
    put16(f, 1204, 100 * programme);
    put16(f, 1206, int(count & 0xFFFF));
    put16(f, 1208, 0x8000 + programme);
    put8(f, 1210, programme % 2);
    const QByteArray n = QByteArray::number(programme);
    const QByteArray texts[5] = {"Song " + n + " of the hour", "The Tolvas", "Valley Nights " + n,
                                 programme % 2 ? "Pop" : "Jazz", "Programme HD" + n};
    for (int i = 0; i < 5; ++i) {
        // The last programme sends an empty comment: a text of zero bytes.
        if (i == 4 && programme == 9)
            putText(f, 1211 + 44 * i, 44, QByteArray(), '\0');
        else
            putText(f, 1211 + 44 * i, 44, texts[i]);
    }
}

void HdFrames::seal(QByteArray &f)
{
    int sum = 0;
    for (int i = 0; i < frameSize - 2; ++i)
        sum += quint8(f[i]);
    put16(f, frameSize - 2, sum);
}

bool HdFrames::pressButton(int number, const QList<int> &pairs, QString *what)
{
    // Buttons 205..208 carry a value that the unit keeps and echoes.
    if (number >= 205 && number <= 208)
        return changeParameter(number, pairs, what);
    return FrameSource::pressButton(number, pairs, what);
}

} // namespace hdsim
