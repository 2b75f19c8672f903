#pragma once
// A ByteLink that stands for whichever transport is open just now: a page
// hands this one to its session, and swaps what is behind it as links open
// and close. With nothing behind it, sends are dropped and reads are empty.
#include "link/bytelink.h"

class ForwardLink : public ByteLink {
public:
    void setTarget(ByteLink *target) { m_target = target; }
    ByteLink *target() const { return m_target; }

    void send(const QByteArray &bytes) override
    {
        if (m_target)
            m_target->send(bytes);
    }
    QByteArray readSome(int max) override { return m_target ? m_target->readSome(max) : QByteArray(); }
    int bytesWaiting() const override { return m_target ? m_target->bytesWaiting() : 0; }
    void clearReceive() override
    {
        if (m_target)
            m_target->clearReceive();
    }

private:
    ByteLink *m_target = nullptr;
};
