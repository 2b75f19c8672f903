#include "link/seriallink.h"

#include "link/seriallibrary.h"

void SerialLink::send(const QByteArray &bytes)
{
    m_library.sioPuts(m_port, bytes);
}

QByteArray SerialLink::readSome(int max)
{
    return m_library.sioGets(m_port, max);
}

int SerialLink::bytesWaiting() const
{
    const int n = m_library.sioRxQue(m_port);
    return n > 0 ? n : 0;
}

void SerialLink::clearReceive()
{
    m_library.sioRxClear(m_port);
}
