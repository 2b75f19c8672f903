// A Hayes-compatible modem in front of a unit: command mode with echo and
// result words, dialling, then data mode in which bytes pass straight to the
// unit behind it. Hang-up comes from the line (link down), ATH after the
// "+++" escape, or the unit's caller going away.
#pragma once

#include "unit.h"

#include <QElapsedTimer>

class QTimer;

struct ModemOptions {
    bool silent = false;           // a dead modem: no echo, no answers
    bool echoOnly = false;         // echoes but never answers OK/ERROR
    QByteArray dialResult = "CONNECT 2400";
    int connectDelayMs = 300;
};

class HayesModem : public Unit
{
    Q_OBJECT
public:
    HayesModem(Unit *inner, const ModemOptions &options, QObject *parent = nullptr);

    void receive(const QByteArray &bytes) override;
    void linkUp() override;
    void linkDown() override;

    bool online() const { return online_; }

private:
    void commandByte(char c);
    void runLine(const QByteArray &line);
    void result(const QByteArray &word);
    void dial(const QByteArray &number);
    void hangUp();
    void dataBytes(const QByteArray &bytes);

    Unit *inner_;
    ModemOptions opt_;
    bool echo_ = true;
    bool connected_ = false; // a call is up (data mode or escaped to command mode)
    bool online_ = false;    // data mode
    bool dialling_ = false;
    QByteArray line_;
    int generation_ = 0;     // invalidates a pending CONNECT after hang-up
    // "+++" escape: one second of silence, three pluses, one second of silence.
    QElapsedTimer lastData_;
    int pluses_ = 0;
    QTimer *escapeTimer_;
};
