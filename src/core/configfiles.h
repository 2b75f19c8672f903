#pragma once
// What the settings and user files under CONFIG/ share: they are 8-bit text
// with one value a line, and some hold passwords in clear text, so they are
// kept readable by their owner only.
#include <QString>
#include <QStringList>

namespace configfiles {

// A text one line of these files holds as typed: Latin-1 characters, no line break.
bool storable(const QString &text);
// The characters of the text that cannot be stored, each once, in order.
QString unstorable(const QString &text);

// Gives an existing file owner-only read/write when group or others have any
// access to it. Returns true when it changed the file; false with `error` set
// when it could not, and false with `error` empty when nothing was to be done.
bool restrictToOwner(const QString &path, QString *error);

// restrictToOwner() on the files among `paths` that exist; one text per file
// fixed (for a STATUS line) and one per failure (for an ERROR line).
void restrictAll(const QStringList &paths, QStringList *fixed, QStringList *failed);

} // namespace configfiles
