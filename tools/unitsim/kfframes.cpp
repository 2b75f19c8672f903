#include "hdframes.h"

#include <QDateTime>

#include <cstdlib>

namespace hdsim {

namespace {

void plain(QList<Param> &t, int number, int width, int offset)
{
    t.append({number, ParamKind::Plain, width, offset});
}

// Where each parameter of a KF-71 lives in its page-0 image. Many come in
// pairs (main and reserve, say) whose slot the command itself selects.
QList<Param> kfTable()
{
    QList<Param> t;
    const int bytes[][2] = {
        {0, 15},    {17, 1257}, {18, 1475}, {19, 1260}, {21, 1261}, {33, 1264}, {34, 1265}, {35, 1266},
        {36, 1269}, {40, 1280}, {41, 1281}, {42, 1282}, {44, 1285}, {45, 1286}, {46, 1287}, {47, 1288},
        {48, 1289}, {49, 1290}, {50, 1291}, {51, 1294}, {55, 1305}, {56, 1306}, {57, 1307}, {59, 1310},
        {60, 1311}, {61, 1312}, {62, 1313}, {63, 1314}, {64, 1315}, {65, 1318}, {68, 1325}, {69, 1326},
        {70, 1327}, {71, 1330}, {72, 1331}, {73, 1332}, {75, 1335}, {76, 1336}, {77, 1337},
    };
    for (const auto &b : bytes)
        plain(t, b[0], 1, b[1]);
    for (int n = 78; n <= 96; ++n)
        plain(t, n, 1, n + 1294);
    for (int n = 97; n <= 104; ++n)
        plain(t, n, 1, n + 1267);
    const int words[][2] = {
        {15, 1255}, {22, 1262}, {39, 1276}, {54, 1301}, {37, 1267}, {38, 1270}, {43, 1283},
        {52, 1292}, {53, 1295}, {58, 1308}, {66, 1316}, {67, 1319}, {74, 1333},
    };
    for (const auto &w : words)
        plain(t, w[0], 2, w[1]);
    t.append({16, ParamKind::Dependent, 1, 1258, 1259, 1257});
    const int selected[][4] = {
        {23, 1, 1339, 1338}, {24, 2, 1342, 1340}, {25, 1, 1345, 1344}, {26, 1, 1347, 1346},
        {27, 1, 1349, 1348}, {28, 1, 1351, 1350}, {29, 1, 1353, 1352}, {30, 2, 1356, 1354},
        {31, 1, 1359, 1358}, {32, 2, 1362, 1360},
    };
    for (const auto &s : selected)
        t.append({s[0], ParamKind::Selected, s[1], s[2], s[3]});
    // Fourteen triplets of (signed word, word, byte) from 1393.
    const int triplets[] = {112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 122, 123, 124, 125,
                            126, 127, 129, 130, 131, 132, 133, 135, 136, 138, 141, 142, 144, 145,
                            147, 148, 150, 151, 153};
    for (int n : triplets) {
        const int m = (n + 2 - 114) / 3, r = (n + 2 - 114) % 3;
        plain(t, n, r == 2 ? 1 : 2, 1393 + 5 * m + 2 * r);
    }
    return t;
}

// A reading the unit derives from a setting (a carrier in thousandths of a
// MHz from a signed offset): it changes in the image when the setting does.
void deriveReal(QByteArray &image, int settingAt, int realAt)
{
    put32(image, realAt, 98700 + qint64(qint16(get16(image, settingAt))) * 10);
}

QByteArray kfImage()
{
    QByteArray f(frameSize, '\0');
    for (int at = 1252; at <= 1475; ++at)
        put8(f, at, (at * 5) % 11);
    putPresets(f, {
        {15, 1, 0x21}, {1252, 2, 0x0203}, {1255, 2, 9870}, {1257, 1, 1}, // selects 1258 for parameter 16
        {1264, 1, 0xF6}, // -10 read as signed
        {1267, 2, -250}, {1270, 2, 120}, {1283, 2, -32768}, {1292, 2, 32767}, {1295, 2, -40}, {1319, 2, 15},
        {1340, 2, 1000}, {1342, 2, 2000},
    });
    for (int m = 0; m <= 13; ++m) {
        put16(f, 1393 + 5 * m, -50 * m);
        put16(f, 1395 + 5 * m, 500 + m);
        put8(f, 1397 + 5 * m, m);
    }
    deriveReal(f, 1270, 1272);
    deriveReal(f, 1295, 1297);
    deriveReal(f, 1319, 1321);
    return f;
}

QList<int> moving12(int n, qint64 count)
{
    QList<int> v(n);
    for (int i = 0; i < n; ++i)
        v[i] = int((i * 53 + count * 17) % 4096) - 2048;
    if (n >= 2) {
        v[0] = -2048;
        v[1] = 2047;
    }
    return v;
}

} // namespace

KfFrames::KfFrames() : FrameSource(Settings(kfTable(), kfImage())) {}

QList<int> KfFrames::pageCycle() const { return {0, 1, 18}; }

void KfFrames::changed(int number)
{
    QByteArray &image = settings_.image();
    if (number == 38)
        deriveReal(image, 1270, 1272);
    else if (number == 53)
        deriveReal(image, 1295, 1297);
    else if (number == 67)
        deriveReal(image, 1319, 1321);
}

void KfFrames::fill(QByteArray &f, int page, qint64 count)
{
    const QByteArray &image = settings_.image();
    put8(f, 9, 0x71);
    put16(f, 13, int(count & 0xFFFF));
    put8(f, 15, get8(image, 15));
    pack12(f, 17, moving12(100, count));
    QList<int> spectrum(509);
    for (int i = 0; i < spectrum.size(); ++i)
        spectrum[i] = 1500 - 10 * std::abs(i - 254) + int((count * 5 + i * 29) % 48);
    pack12(f, 250, spectrum);

    put8(f, 1250, page);
    if (page == 0) {
        f.replace(1251, 246, image.mid(1251, 246));
    } else if (page == 1) {
        rdsPage(f, count);
    } else if (page == 18) {
        for (int g = 0; g < 4; ++g) {
            if (g > 0)
                put8(f, 1250 + 25 * g, g);
            for (int j = 0; j < 12; ++j) {
                put8(f, 1251 + 25 * g + 2 * j, 4 * j + g);
                put8(f, 1252 + 25 * g + 2 * j, int(((j + g) % 2) ^ (alarmChanged && g == 0 && j == 0)));
            }
        }
    }
}

void KfFrames::rdsPage(QByteArray &f, qint64 count) const
{
    const QDateTime now = QDateTime::currentDateTime();
    putText(f, 1251, 4, "C201");
    putText(f, 1255, 4, "E2A1");
    put8(f, 1259, 10);
    put8(f, 1260, 1);
    put8(f, 1261, int(count / 9 % 2)); // traffic announcement on and off
    putText(f, 1262, 8, "TOLVA FM");
    putText(f, 1270, 8, "Pop M");
    putText(f, 1278, 8, "VALLEY");
    putText(f, 1286, 2, "EN");
    putText(f, 1288, 9, "98.70 MHz");
    putText(f, 1297, 2, "01");
    putText(f, 1299, 8, now.toString(QStringLiteral("dd.MM.yy")).toLatin1());
    putText(f, 1307, 8, now.toString(QStringLiteral("HH:mm:ss")).toLatin1());
    put8(f, 1315, 1);
    // Radiotext carries its own line breaks; a new song every ten pages.
    const QByteArray song = QByteArray::number(count / 30 % 5 + 1);
    putText(f, 1316, 64, "Now playing: Song " + song + "\r\nby The Tolvas");
    putText(f, 1380, 64, "Tolva FM 98.7 - news at the hour");
    put8(f, 1444, 3);
    putText(f, 1445, 48, "ITEM.TITLE=Song " + song);
    put16(f, 1493, 0xC201);
    put16(f, 1495, int(count & 0xFFFF));
}

} // namespace hdsim
