// What the stream targets share: one application, temporary folder, clock
// and quiet log for the whole run, and a connection page on a queue link
// fed with answers cut from the input.
#pragma once

#include "connection/connectionpage.h"
#include "connection/session.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "protocols/arx/arxsession.h"
#include "protocols/hd/linesession.h"
#include "protocols/kx71/kx71session.h"
#include "protocols/sessionfactory.h"
#include "support/queuelink.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>

namespace fuzzpage {

class StepClock : public Clock {
public:
    QDateTime now() const override { return t; }
    QDateTime t{QDate(2026, 12, 7), QTime(3, 59, 0)};
};

struct World {
    World(int &argc, char **argv) : app(argc, argv), log(clock) { log.setEchoToStderr(false); }
    QCoreApplication app;
    QTemporaryDir dir;
    StepClock clock;
    MessageLog log;
};

inline World &world()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static World w(argc, argv);
    return w;
}

// Page 1 of the given hardware and connection type, opened.
class FuzzPage {
public:
    FuzzPage(bool socketLike, int hardwareType, int connectionType = 0)
        : m_world(world()), m_page(1, environment()), m_link(socketLike)
    {
        m_page.setTestLink(&m_link);
        ConnectionSettings s = ConnectionSettings::defaults(1, m_world.dir.path());
        s.hardwareType = hardwareType;
        s.connectionType = connectionType;
        m_network = connectionType == 1;
        m_page.setSettings(s);
        m_page.openLink();
    }

    ConnectionPage &page() { return m_page; }
    int maxPhase() const { return m_maxPhase; }

    // The input from `at` on as a list of answers: a length of `lengthBytes`
    // bytes (high first), then that many bytes, each delivered before the
    // page's next `ticks` ticks, `stepMs` apart (0: the page's interval).
    void answer(const uint8_t *data, size_t size, size_t at, int lengthBytes, int ticks, int stepMs)
    {
        while (at + size_t(lengthBytes) <= size) {
            size_t n = 0;
            for (int i = 0; i < lengthBytes; ++i)
                n = n << 8 | data[at++];
            const size_t take = n < size - at ? n : size - at;
            m_link.waiting += QByteArray(reinterpret_cast<const char *>(data + at), qsizetype(take));
            at += take;
            if (m_network)
                m_page.session()->onSocketRead();
            for (int i = 0; i < ticks; ++i) {
                m_page.tick();
                m_world.clock.t = m_world.clock.t.addMSecs(stepMs ? stepMs : m_page.interval());
                m_maxPhase = qMax(m_maxPhase, m_page.record().phase);
            }
            // A failed detection starts again, so later answers still reach the machine.
            if (m_page.record().phase == 0)
                m_page.openLink();
        }
    }

    void settle(int ticks, int stepMs)
    {
        for (int i = 0; i < ticks; ++i) {
            m_page.tick();
            m_world.clock.t = m_world.clock.t.addMSecs(stepMs);
        }
    }

    void checkBounded()
    {
        if (waitingToBeCut() > 64 * 1024 || m_page.receiveText().size() > 64 * 1024)
            __builtin_trap(); // what waits to be cut stays bounded
    }

    qsizetype waitingToBeCut() const
    {
        const Session *s = m_page.session();
        if (const auto *arx = dynamic_cast<const ArxSession *>(s))
            return arx->frameCutter().size();
        if (const auto *line = dynamic_cast<const LineSession *>(s))
            return line->frameCutter().size();
        if (const auto *kx = dynamic_cast<const Kx71Session *>(s))
            return kx->frameCutter().size();
        return 0;
    }

private:
    ConnectionPage::Environment environment()
    {
        ConnectionPage::Environment env;
        env.baseDirectory = m_world.dir.path();
        env.log = &m_world.log;
        env.clock = &m_world.clock;
        env.sessions = createSession;
        return env;
    }

    World &m_world;
    ConnectionPage m_page;
    QueueLink m_link;
    bool m_network = false;
    int m_maxPhase = 0;
};

} // namespace fuzzpage
