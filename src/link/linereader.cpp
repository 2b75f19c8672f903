#include "link/linereader.h"

#include "link/bytelink.h"

void LineReader::attach(ByteLink *link, int readLimit)
{
    m_link = link;
    m_readLimit = readLimit;
}

void LineReader::pull()
{
    if (!m_link)
        return;
    const QByteArray bytes = m_link->readSome(m_readLimit);
    if (bytes.isEmpty())
        return;
    m_receiveText.append(bytes);
    if (m_receiveText.size() > kMaxKept)
        m_receiveText.remove(0, m_receiveText.size() - kMaxKept);
}

QByteArray LineReader::copyWithout(const QByteArray &terminator)
{
    QByteArray copy = m_receiveText;
    const qsizetype at = copy.indexOf(terminator);
    if (at >= 0) {
        copy.remove(at, terminator.size());
        m_lineComplete = true;
    }
    return copy;
}

QByteArray LineReader::readMarked()
{
    pull();
    return copyWithout(QByteArray("\xF0\xF1", 2));
}

QByteArray LineReader::readMarkedOrPollEnd()
{
    pull();
    QByteArray copy = copyWithout(QByteArray("\xF0\xF1", 2));
    // The lone FF is looked for independently, in the copy left by the first search.
    const qsizetype at = copy.indexOf('\xFF');
    if (at >= 0) {
        copy.remove(at, 1);
        m_lineComplete = true;
    }
    return copy;
}

QByteArray LineReader::readCrLf()
{
    pull();
    m_receiveText.replace('\0', 'X');
    return copyWithout(QByteArray("\r\n"));
}

QByteArray LineReader::readCr()
{
    pull();
    m_receiveText.replace('\0', 'X');
    return copyWithout(QByteArray("\r"));
}

void LineReader::clearReceive()
{
    if (m_link)
        m_link->clearReceive();
    m_lineComplete = false;
    m_receiveText.clear();
}
