#pragma once
// The four line readers the session machines use to gather replies. Each read
// appends what the link has (a bounded amount per call) to ReceiveText and
// returns a copy of all of it, with the first terminator found removed from
// the copy; ReceiveText keeps everything until clearReceive().
#include <QByteArray>

class ByteLink;

class LineReader {
public:
    // Bytes kept at most; older bytes are dropped first when a far end floods.
    static constexpr int kMaxKept = 64 * 1024;

    void attach(ByteLink *link, int readLimit);
    void detach() { m_link = nullptr; }

    QByteArray readMarked();          // F0 F1
    QByteArray readMarkedOrPollEnd(); // F0 F1, or a lone FF
    QByteArray readCrLf();            // CR LF; zero bytes shown as "X"
    QByteArray readCr();              // CR; zero bytes shown as "X"

    void clearReceive();

    bool lineComplete() const { return m_lineComplete; }
    void setLineComplete(bool on) { m_lineComplete = on; }
    const QByteArray &receiveText() const { return m_receiveText; }

private:
    void pull();
    QByteArray copyWithout(const QByteArray &terminator);

    ByteLink *m_link = nullptr;
    int m_readLimit = 100;
    QByteArray m_receiveText;
    bool m_lineComplete = false;
};
