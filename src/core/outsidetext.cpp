#include "core/outsidetext.h"

namespace outsidetext {

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

QString escaped(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && !isControl(text.at(i).unicode()))
        ++i;
    if (i == text.size())
        return text;
    QString out = text.left(i);
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (isControl(c))
            out += QStringLiteral("\\x") + QString::number(c, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        else
            out += text.at(i);
    }
    return out;
}

QString shown(const QString &text, int maxChars)
{
    if (text.size() <= maxChars)
        return escaped(text);
    return escaped(text.left(maxChars)) + QChar(0x2026);
}

QString shown(const QByteArray &bytes, int maxChars)
{
    // Only what can be shown is converted: a huge input costs nothing more.
    const bool cut = bytes.size() > maxChars;
    const QString text = escaped(QString::fromLatin1(bytes.left(maxChars)));
    return cut ? text + QChar(0x2026) : text;
}

} // namespace outsidetext
