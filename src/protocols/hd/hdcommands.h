#pragma once
// The line commands of the HD monitors and the KF-71 system: short ASCII
// texts, each ending in one CR, sent unchanged. The checked commands end in
// a check pair, the low byte of the sum of every character before it.
#include <QByteArray>
#include <optional>

namespace hd {

QByteArray cmdCr(); // CR alone
QByteArray cmdHd(); // "HD" CR
QByteArray cmdSc(); // "SC" CR
QByteArray cmdUi(); // "UI" CR
QByteArray cmdSd(); // "SD" CR
QByteArray cmdEc(); // "EC" CR
QByteArray cmdEf(); // "EF" CR
QByteArray cmdPg(); // "PG" CR (HD only; the KF-71 always names a page)
QByteArray cmdUl(); // "UL" CR
QByteArray cmdDe(); // "DE" CR

// "PG" + page as two hex pairs, high byte first, CR.
QByteArray pageCommand(quint16 page);

// The log-in texts: "SP" password CR to a relay server, password CR to a unit.
QByteArray relayPasswordText(const QByteArray &password);
QByteArray passwordText(const QByteArray &password);

// Two hex digits: the sum modulo 256 of the character codes of text.
QByteArray checkPair(const QByteArray &text);

// "CC" + number + value pairs + check pair + CR; value is the hex text the
// family's settings record gives for the number (none: no value sent).
// Empty when the number does not fit the command's one byte.
QByteArray parameterCommand(int number, const std::optional<QByteArray> &value);

// "PB" + number + [value] + check pair + CR. The HD monitors send the stored
// value for buttons 205..208; the KF-71 never sends one. Empty when the
// number does not fit one byte.
QByteArray buttonCommand(int number, quint8 value, bool sendsValues);

} // namespace hd
