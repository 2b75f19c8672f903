#include "protocols/hd/hdcommands.h"

#include "core/hextext.h"

namespace hd {

namespace {

QByteArray line(const char *text)
{
    return QByteArray(text) + '\r';
}

QByteArray checked(QByteArray text)
{
    text += checkPair(text);
    text += '\r';
    return text;
}

bool fitsByte(int number)
{
    return number >= 0 && number <= 0xFF;
}

} // namespace

QByteArray cmdCr() { return QByteArray(1, '\r'); }
QByteArray cmdHd() { return line("HD"); }
QByteArray cmdSc() { return line("SC"); }
QByteArray cmdUi() { return line("UI"); }
QByteArray cmdSd() { return line("SD"); }
QByteArray cmdEc() { return line("EC"); }
QByteArray cmdEf() { return line("EF"); }
QByteArray cmdPg() { return line("PG"); }
QByteArray cmdUl() { return line("UL"); }
QByteArray cmdDe() { return line("DE"); }

QByteArray pageCommand(quint16 page)
{
    return "PG" + hextext::hex4(page) + '\r';
}

QByteArray relayPasswordText(const QByteArray &password)
{
    return "SP" + password + '\r';
}

QByteArray passwordText(const QByteArray &password)
{
    return password + '\r';
}

QByteArray checkPair(const QByteArray &text)
{
    quint8 sum = 0;
    for (char c : text)
        sum = quint8(sum + quint8(c));
    return hextext::hex2(sum);
}

QByteArray parameterCommand(int number, const std::optional<QByteArray> &value)
{
    if (!fitsByte(number))
        return {};
    return checked("CC" + hextext::hex2(quint8(number)) + value.value_or(QByteArray()));
}

QByteArray buttonCommand(int number, quint8 value, bool sendsValues)
{
    if (!fitsByte(number))
        return {};
    QByteArray text = "PB" + hextext::hex2(quint8(number));
    if (sendsValues && number >= 205 && number <= 208)
        text += hextext::hex2(value);
    return checked(text);
}

} // namespace hd
