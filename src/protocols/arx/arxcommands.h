#pragma once
// The byte strings an Arxon system understands. Every command carries its
// own 0xFE terminator except the lone poll byte; callers send them unchanged.
#include <QByteArray>

namespace arx {

// --- session ---------------------------------------------------------------
QByteArray cmdWake();            // 03 FE
QByteArray cmdStart();           // 04 FE
QByteArray cmdPasswordPrompt();  // 01 FE
QByteArray cmdLogOff();          // 02 FE
QByteArray cmdDownloadCheck(quint16 n); // 05 HEX4(n) FE
QByteArray cmdAbort();           // FE
QByteArray cmdIdentify();        // 07 FE
QByteArray cmdPasswordChange();  // 06 FE
QByteArray cmdPoll();            // FF

// Texts the session frames itself.
QByteArray passwordText(const QByteArray &password);      // password FE
QByteArray relayPasswordText(const QByteArray &password); // 00 password FE
QByteArray downloadLineText(const QByteArray &line);      // 09 line FE
QByteArray passwordLevelText();                            // "3" FE
QByteArray newPasswordText(const QByteArray &password);   // password FE

// --- relay: setting changes of remote clients --------------------------------
// Out-of-range selections give an empty text so that nothing reaches the unit.
QByteArray cmdTvSelect14(int n);          // 14 n FE, 0 <= n < 50
QByteArray cmdTvSelect17(int n);          // 17 n FE, 0 <= n < 50
QByteArray cmdTvSet1A(quint8 a);          // 1A a FE
QByteArray cmdTv1D();                     // 1D FE
QByteArray cmdTv1E();                     // 1E FE
QByteArray cmdTvValueL(quint8 a, quint8 v); // "L" a HEX2(v) FE
QByteArray cmdTvValueQ(quint8 a, quint8 v); // "Q" a HEX2(v) FE

QByteArray cmdKa71Select(int n);          // 18 n FE, 0 <= n < 50
QByteArray cmdKa71Set(quint8 a);          // 19 a FE
QByteArray cmdKa711C();                   // 1C FE
QByteArray cmdKa71Value(quint8 a, quint8 v); // "P" a HEX2(v) FE

QByteArray cmdKa72Select(int n);          // 18 n FE, 0 <= n <= 52
QByteArray cmdKa72Set(quint8 a);          // 19 a FE
QByteArray cmdKa721C();                   // 1C FE
QByteArray cmdKa72Value(quint8 a, quint16 v); // "P" a HEX4(v) FE

} // namespace arx
