// Bytes from a remote client: assembly in both dialects, the ARX
// translation tables at every level and family, logins and change overlays.
#include "server/arxtranslation.h"
#include "server/changequeue.h"
#include "server/messageassembly.h"
#include "server/useraccounts.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    static const UserTable users{{"amy", "secret", "Supervisor"}, {"bob", "pw", "Observer"}, {"cy", "x", "<none>"}};

    MessageAssembler arx(char(0xFE), true);
    MessageAssembler lines('\r', false);
    // Split the input in a few reads, as a socket may deliver it.
    for (qsizetype at = 0; at < input.size(); at += 7) {
        const QByteArray chunk = input.mid(at, 7);
        for (const QByteArray &m : arx.feed(chunk)) {
            for (int family = 0; family < 4; ++family)
                for (int level = 0; level < 4; ++level)
                    arxtranslation::translate(family, level, m);
            checkLogin(users, m.mid(1, m.size() - 2));
        }
        for (const QByteArray &line : lines.feed(chunk)) {
            checkLogin(users, line.mid(2, line.size() - 3));
            changecodes::overlayFor(2, line);
            changecodes::overlayFor(3, line);
        }
        if (arx.pending().size() > MessageAssembler::kMaxPending || lines.pending().size() > MessageAssembler::kMaxPending)
            __builtin_trap(); // the buffer must stay bounded
    }
    return 0;
}
