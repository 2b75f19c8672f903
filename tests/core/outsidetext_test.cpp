#include "core/messagelog.h"
#include "core/outsidetext.h"
#include "support/fakeclock.h"

#include <gtest/gtest.h>

namespace {

TEST(OutsideText, ControlCharactersEscapedAndLongTextCut)
{
    const struct {
        QByteArray in;
        QString shown;
    } cases[] = {
        {"plain text", "plain text"},
        {"\x1B[31mred\x1B[0m", "\\x1B[31mred\\x1B[0m"},
        {QByteArray("a\0b\r\n\x7F\x9B", 7), "a\\x00b\\x0D\\x0A\\x7F\\x9B"},
        {"caf\xE9", QString::fromUtf8("caf\xC3\xA9")},
        {QByteArray(200, 'x'), QString(200, 'x')},
        {QByteArray(262257, 'x'), QString(200, 'x') + QChar(0x2026)},
        {QByteArray(199, 'x') + "\x1B\x1B", QString(199, 'x') + "\\x1B" + QChar(0x2026)},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(outsidetext::shown(c.in), c.shown) << c.in.left(40).toHex().constData();
        EXPECT_EQ(outsidetext::shown(QString::fromLatin1(c.in)), c.shown) << c.in.left(40).toHex().constData();
    }
}

TEST(OutsideText, MessageLinesNeverCarryControlBytes)
{
    FakeClock clock;
    MessageLog log(clock);
    log.setEchoToStderr(false);
    log.log("Connect1", " reply \x1B]0;title\x07 end", LogLevel::Status);
    EXPECT_TRUE(log.line(0).endsWith(">    reply \\x1B]0;title\\x07 end"));
    log.addLine(QString(5000, 'y'));
    EXPECT_EQ(log.line(0), QString(MessageLog::kMaxLineChars, 'y') + QChar(0x2026));
}

} // namespace
