#include "update/updatesteps.h"

namespace updatesteps {

namespace {

using Step = UpdateMachine::Step;

constexpr int kReadyLimit = 240;
constexpr int kWorkLimit = 480;
constexpr int kResetLimit = 900;

constexpr Step kWake{Op::Wake, 1, nullptr, nullptr, 0, nullptr, nullptr, 0, 125};
constexpr Step kAnnounce{Op::Announce, 2};
constexpr Step kAwaitReady{Op::AwaitReady, 3, nullptr, nullptr, 0, nullptr, " Hardware Not Responding", kReadyLimit};
constexpr Step kBeginDownload{Op::BeginDownload, 4};
constexpr Step kSendLine{Op::SendLine, 5};
constexpr Step kAwaitLine{Op::AwaitLineAnswer, 4, nullptr, nullptr, 0, nullptr, " Data Download Timeout ", 6000};
constexpr Step kErase{Op::BeginErase, 7, "Erasing EEPROM     "};
constexpr Step kAwaitErase{Op::AwaitWork, 8, nullptr, "ERASE", 70, " Erase EEPROM Failed ", " Erase EEPROM Timeout ",
                           kWorkLimit};
constexpr Step kFlash{Op::BeginWork, 9, "Flashing EEPROM     ", nullptr, 0, nullptr, nullptr, 0, 0, true};
constexpr Step kAwaitFlash{Op::AwaitWork, 10, nullptr, "FLASH", 70, " Flashing EEPROM Failed ", "Flash EEPROM Timeout",
                           kWorkLimit};
constexpr Step kVerify{Op::BeginWork, 11, "Verifying EEPROM    ", nullptr, 0, nullptr, nullptr, 0, 100};
constexpr Step kAwaitVerify{Op::AwaitWork, 12, nullptr, "VERIFY", 70, " Verifying EEPROM Failed ",
                            "Verify EEPROM Timeout", kWorkLimit};
constexpr Step micro(const char *status, int next) { return Step{Op::BeginWork, next, status}; }
constexpr Step awaitMicro(int next)
{
    return Step{Op::AwaitWork, next, nullptr, "MICRO", 44, " Programming Micro Failed ", "Micro Program Timeout",
                kWorkLimit};
}
constexpr Step reset(const char *status, int next)
{
    return Step{Op::BeginWork, next, status, nullptr, 0, nullptr, nullptr, 0, 100, true};
}
constexpr Step kAwaitSuccess17{Op::AwaitSuccess, 18, nullptr, nullptr, 0, nullptr, " Reset Timeout ", kResetLimit};
constexpr Step kSucceed{Op::Succeed};

// KH-71: erase, flash, verify, two microcontrollers, then its "SUCCESS".
const UpdateMachine::Traits kKh71{
    {kWake, kAnnounce, kAwaitReady, kBeginDownload, kSendLine, kAwaitLine, kErase, kAwaitErase, kFlash, kAwaitFlash,
     kVerify, kAwaitVerify, micro("Updating Micro#1   ", 13), awaitMicro(14), micro("Updating Micro#2   ", 15),
     awaitMicro(16), reset("Resetting Unit   ", 17), kAwaitSuccess17, kSucceed},
    0, true, true, true, false, Failure::CloseLink, " Please Close Arxview, and Re-open, and Re-Connect", false,
    " EEPROM Update Succesful "};

// KF-71: as the KH-71 with one microcontroller; its timer is left as it is.
const UpdateMachine::Traits kKf71{
    {Step{Op::Wake, 1}, kAnnounce, kAwaitReady, kBeginDownload, kSendLine, kAwaitLine, kErase, kAwaitErase, kFlash,
     kAwaitFlash, kVerify, kAwaitVerify, micro("Updating Micro   ", 13), awaitMicro(14),
     reset("Resetting Unit   ", 15),
     Step{Op::AwaitSuccess, 16, nullptr, nullptr, 0, nullptr, " Reset Timeout ", kResetLimit}, kSucceed, Step{},
     Step{}},
    0, true, true, true, false, Failure::SendEc, " EEPROM Update Failed ", false, " EEPROM Update Succesful "};

// HD units without display report: plain "PG", the serial-number record
// after the file, one flash phase reported by sector, a fixed restart wait.
const UpdateMachine::Traits kHd{
    {kWake, kAnnounce, kAwaitReady, kBeginDownload, kSendLine, kAwaitLine,
     Step{Op::BeginErase, 9, "Flashing EEPROM     "}, Step{}, Step{},
     Step{Op::AwaitHdFlash, 16, nullptr, "FLASH", 0, " Flashing EEPROM Failed ", "Flash EEPROM Timeout", kWorkLimit},
     Step{}, Step{}, Step{}, Step{}, Step{}, Step{}, reset("Resetting and Configuring Unit   ", 17),
     Step{Op::FixedWait, 18, nullptr, nullptr, 0, nullptr, nullptr, 3000, 0, true}, kSucceed},
    0, false, false, false, true, Failure::SendEc, " EEPROM Update Failed ", true, " EEPROM Update Succesful "};

// The network module: the unit takes the file, loads the module with "UL",
// and both are gone for minutes; nothing is checked after "UL".
const UpdateMachine::Traits kNetwork{
    {Step{}, kAnnounce, kAwaitReady, kBeginDownload, kSendLine, kAwaitLine,
     Step{Op::BeginModuleLoad, 7, "Updating Lantronix  ", nullptr, 0, nullptr, nullptr, 0, 100},
     Step{Op::FixedWait, 17, "Resetting Unit   ", nullptr, 0, nullptr, nullptr, 4200}, Step{}, Step{}, Step{}, Step{},
     Step{}, Step{}, Step{}, Step{}, Step{}, Step{Op::FixedWait, 18, nullptr, nullptr, 0, nullptr, nullptr, 900},
     kSucceed},
    1, true, true, true, false, Failure::SendEc, " Lantronix Update Failed ", true, " Lantronix Update Succesful "};

} // namespace

const UpdateMachine::Traits &traitsOf(UpdateMachine::Kind kind)
{
    switch (kind) {
    case UpdateMachine::Kind::Hd: return kHd;
    case UpdateMachine::Kind::Kf71: return kKf71;
    case UpdateMachine::Kind::Network: return kNetwork;
    default: return kKh71;
    }
}

} // namespace updatesteps
