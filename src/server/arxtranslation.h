#pragma once
// Turns a relay client's ARX message into the command the connected unit
// understands, by the unit's module family and the client's access level.
#include <QByteArray>

namespace arxtranslation {

enum Family { FmGroup = 0, TvGroup = 1, Ka71 = 2, Ka72 = 3 };

// `message` is the client's message, terminator included. Returns the unit
// command, or an empty array when the code has no translation for this
// family or needs a higher level.
QByteArray translate(int family, int level, const QByteArray &message);

} // namespace arxtranslation
