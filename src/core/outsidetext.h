#pragma once
// Text that came from outside (settings files, units, clients) as it may
// appear in a message line: control characters shown as \xNN so that nothing
// reaches a terminal or journal raw, and long text cut with "…".
#include <QByteArray>
#include <QString>

namespace outsidetext {

constexpr int kMaxChars = 200;

// Control characters (C0, DEL, C1) as \xNN; everything else unchanged.
QString escaped(const QString &text);

// escaped(), cut to kMaxChars characters of the original followed by "…".
QString shown(const QString &text, int maxChars = kMaxChars);
// The bytes read as Latin-1, as files and units send them.
QString shown(const QByteArray &bytes, int maxChars = kMaxChars);

} // namespace outsidetext
