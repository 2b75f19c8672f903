#pragma once
// The four update machines as data: each is a table of steps (what the step
// does, where it goes next, its texts, limits and timer) and a few traits.
// The machine itself (updatemachine.cpp) only runs them.
#include "update/updatemachine.h"

#include <QtGlobal>

#include <array>
#include <cmath>

namespace updatesteps {

enum class Op {
    None,
    Wake,            // timer, state "Updating ", "HD\r"
    Announce,        // "PG" with or without the record count
    AwaitReady,
    BeginDownload,
    SendLine,
    AwaitLineAnswer,
    BeginErase,      // "EF\r": the unit erases (and flashes) on its own
    BeginWork,       // a new phase of the unit's work: progress and status reset
    AwaitWork,       // progress token / PASS / FAIL
    AwaitHdFlash,    // sector digits, DONE
    AwaitSuccess,    // the restarted unit's "SUCCESS"
    FixedWait,       // a wait that does not look at the unit
    BeginModuleLoad, // "UL\r": the unit loads its network module
    Succeed,
};

enum class Failure { CloseLink, SendEc };

} // namespace updatesteps

struct UpdateMachine::Step {
    updatesteps::Op op = updatesteps::Op::None;
    int next = 0;
    const char *status = nullptr;
    const char *token = nullptr;   // progress token of the unit's work
    int divisor = 0;               // progress messages making 100 %
    const char *failed = nullptr;  // ERROR on "FAIL"
    const char *timeout = nullptr; // ERROR when the wait runs out
    int limit = 0;                 // ticks waited at most
    int interval = 0;              // timer set by the step (0: left as it is)
    bool clear = false;
};

struct UpdateMachine::Traits {
    std::array<Step, 19> steps;
    int firstStep;
    bool announceCount;
    bool showBadChecksums;
    bool sendDeOnBadChecksums;
    bool serialRecord;
    updatesteps::Failure failure;
    const char *failMessage;
    bool releaseBeforeReconnect;
    const char *successMessage;
};

namespace updatesteps {
const UpdateMachine::Traits &traitsOf(UpdateMachine::Kind kind);
}

namespace updatesteps {
// A share in whole percent, 0-100; what is not a number is 0.
inline int percent(double value)
{
    if (!std::isfinite(value))
        return 0;
    return qBound(0, int(std::lround(value)), 100);
}
} // namespace updatesteps
