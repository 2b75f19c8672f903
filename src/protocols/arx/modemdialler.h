#pragma once
// The dialler of an ARX page on a modem port: hang up by dropping DTR, walk
// the Hayes initialisation commands one answer at a time, dial, and wait for
// the far modem's CONNECT. One step per page tick; nothing waits.
#include <QByteArray>

class SessionHost;

class ModemDialler {
public:
    static constexpr int kCommandCount = 11;
    static constexpr int kResendTick = 16;     // ticks without an answer before a re-send
    static constexpr int kLocalLimit = 30;     // more ticks than this: the local modem is silent
    static constexpr int kConnectLimit = 240;  // ticks to wait for CONNECT

    explicit ModemDialler(SessionHost &page) : m_page(page) {}

    // One step of DialStep 0..6.
    void step();

    // The initialisation command of an index, without its CR.
    static QByteArray command(int index, const QByteArray &phoneNumber);
    int commandIndex() const { return m_commandIndex; }

private:
    void fail(const QString &message);

    SessionHost &m_page;
    int m_commandIndex = 0;
};
