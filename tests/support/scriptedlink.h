#pragma once
// A ByteLink for session tests: it records everything sent and hands out
// bytes the test queued, each batch arriving after a given number of ticks
// (advance() is one tick). Replies can also be tied to a sent command:
// "when these bytes go out, answer those after n ticks".
#include "link/bytelink.h"

#include <QByteArray>
#include <QList>
#include <deque>

class ScriptedLink : public ByteLink {
public:
    struct Rule {
        QByteArray trigger;
        QList<QByteArray> replies; // one per matching send, in turn
        int afterTicks = 1;
        bool repeatLast = true;    // after the list: the last reply again, or silence
        int used = 0;
    };

    // --- ByteLink ---------------------------------------------------------
    void send(const QByteArray &bytes) override
    {
        m_sent.append(bytes);
        m_sends.append(bytes);
        for (Rule &r : m_rules) {
            if (bytes != r.trigger || r.replies.isEmpty())
                continue;
            if (r.used < r.replies.size())
                queue(r.replies[r.used++], r.afterTicks);
            else if (r.repeatLast)
                queue(r.replies.last(), r.afterTicks);
        }
    }

    QByteArray readSome(int max) override
    {
        ++m_reads;
        const QByteArray out = m_arrived.left(max);
        m_arrived.remove(0, out.size());
        return out;
    }

    int bytesWaiting() const override { return int(m_arrived.size()); }

    void clearReceive() override
    {
        ++m_clears;
        // A serial port drops what waits in its queue; a socket keeps it.
        if (!m_socketLike)
            m_arrived.clear();
    }

    // --- test side ----------------------------------------------------------
    // Bytes arriving after `afterTicks` calls of advance() (0: waiting at once).
    void queue(const QByteArray &bytes, int afterTicks = 1)
    {
        if (afterTicks <= 0)
            m_arrived.append(bytes);
        else
            m_pending.push_back({afterTicks, bytes});
    }

    // Every send of `trigger` is answered with `reply`.
    void answer(const QByteArray &trigger, const QByteArray &reply, int afterTicks = 1)
    {
        m_rules.append(Rule{trigger, {reply}, afterTicks, true, 0});
    }
    // The sends of `trigger` are answered with the replies in turn; then silence.
    void answerInTurn(const QByteArray &trigger, const QList<QByteArray> &replies, int afterTicks = 1)
    {
        m_rules.append(Rule{trigger, replies, afterTicks, false, 0});
    }
    void clearRules() { m_rules.clear(); }

    // One tick passes: batches whose time has come arrive.
    void advance()
    {
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (--it->first <= 0) {
                m_arrived.append(it->second);
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
    }

    void setSocketLike(bool on) { m_socketLike = on; }

    // Everything sent so far, as one byte string and send by send.
    const QByteArray &sent() const { return m_sent; }
    const QList<QByteArray> &sends() const { return m_sends; }
    QByteArray takeSent()
    {
        const QByteArray out = m_sent;
        m_sent.clear();
        m_sends.clear();
        return out;
    }
    int clears() const { return m_clears; }
    int reads() const { return m_reads; }

private:
    QByteArray m_sent;
    QList<QByteArray> m_sends;
    QByteArray m_arrived;
    std::deque<std::pair<int, QByteArray>> m_pending;
    QList<Rule> m_rules;
    bool m_socketLike = false;
    int m_clears = 0;
    int m_reads = 0;
};
