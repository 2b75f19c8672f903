#include "protocols/arx/arxcommands.h"

#include "core/hextext.h"

namespace arx {

namespace {

constexpr char kEnd = char(0xFE);

QByteArray twoBytes(quint8 code)
{
    QByteArray out;
    out.append(char(code));
    out.append(kEnd);
    return out;
}

QByteArray withArgument(quint8 code, quint8 argument)
{
    QByteArray out;
    out.append(char(code));
    out.append(char(argument));
    out.append(kEnd);
    return out;
}

QByteArray select(quint8 code, int n, int limit)
{
    if (n < 0 || n >= limit)
        return {};
    return withArgument(code, quint8(n));
}

QByteArray valueText(char letter, quint8 a, const QByteArray &hex)
{
    QByteArray out;
    out.append(letter);
    out.append(char(a));
    out.append(hex);
    out.append(kEnd);
    return out;
}

} // namespace

QByteArray cmdWake() { return twoBytes(0x03); }
QByteArray cmdStart() { return twoBytes(0x04); }
QByteArray cmdPasswordPrompt() { return twoBytes(0x01); }
QByteArray cmdLogOff() { return twoBytes(0x02); }
QByteArray cmdAbort() { return QByteArray(1, kEnd); }
QByteArray cmdIdentify() { return twoBytes(0x07); }
QByteArray cmdPasswordChange() { return twoBytes(0x06); }
QByteArray cmdPoll() { return QByteArray(1, char(0xFF)); }

QByteArray cmdDownloadCheck(quint16 n)
{
    QByteArray out(1, char(0x05));
    out.append(hextext::hex4(n));
    out.append(kEnd);
    return out;
}

QByteArray passwordText(const QByteArray &password) { return password + kEnd; }

QByteArray relayPasswordText(const QByteArray &password)
{
    QByteArray out(1, '\0');
    out.append(password);
    out.append(kEnd);
    return out;
}

QByteArray downloadLineText(const QByteArray &line)
{
    QByteArray out(1, '\t');
    out.append(line);
    out.append(kEnd);
    return out;
}

QByteArray passwordLevelText() { return QByteArray("3") + kEnd; }
QByteArray newPasswordText(const QByteArray &password) { return password + kEnd; }

QByteArray cmdTvSelect14(int n) { return select(0x14, n, 50); }
QByteArray cmdTvSelect17(int n) { return select(0x17, n, 50); }
QByteArray cmdTvSet1A(quint8 a) { return withArgument(0x1A, a); }
QByteArray cmdTv1D() { return twoBytes(0x1D); }
QByteArray cmdTv1E() { return twoBytes(0x1E); }
QByteArray cmdTvValueL(quint8 a, quint8 v) { return valueText('L', a, hextext::hex2(v)); }
QByteArray cmdTvValueQ(quint8 a, quint8 v) { return valueText('Q', a, hextext::hex2(v)); }

QByteArray cmdKa71Select(int n) { return select(0x18, n, 50); }
QByteArray cmdKa71Set(quint8 a) { return withArgument(0x19, a); }
QByteArray cmdKa711C() { return twoBytes(0x1C); }
QByteArray cmdKa71Value(quint8 a, quint8 v) { return valueText('P', a, hextext::hex2(v)); }

// The KA-72 offers 53 selections where the other families offer 50.
QByteArray cmdKa72Select(int n) { return select(0x18, n, 53); }
QByteArray cmdKa72Set(quint8 a) { return withArgument(0x19, a); }
QByteArray cmdKa721C() { return twoBytes(0x1C); }
QByteArray cmdKa72Value(quint8 a, quint16 v) { return valueText('P', a, hextext::hex4(v)); }

} // namespace arx
