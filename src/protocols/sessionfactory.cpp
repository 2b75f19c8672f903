// The one place that knows which session serves which hardware type.
#include "protocols/sessionfactory.h"

#include "connection/session.h"
#include "protocols/arx/arxsession.h"
#include "protocols/hd/hddecoder.h"
#include "protocols/hd/linesession.h"
#include "protocols/kf71/kf71decoder.h"
#include "protocols/kx71/kx71session.h"

std::unique_ptr<Session> createSession(int hardwareType, SessionHost &page)
{
    switch (hardwareType) {
    case 0:
        return std::make_unique<ArxSession>(page);
    case 1:
        return std::make_unique<Kx71Session>(page);
    case 2:
        return std::make_unique<LineSession>(page, linefamily::hd(), createHdDecoder());
    case 3:
        return std::make_unique<LineSession>(page, linefamily::kf71(), createKf71Decoder());
    default:
        return std::make_unique<IdleSession>(page);
    }
}
