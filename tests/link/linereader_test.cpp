#include "link/linereader.h"
#include "support/queuelink.h"

#include <gtest/gtest.h>

namespace {
class LineReaderTest : public ::testing::Test {
protected:
    void SetUp() override { reader.attach(&link, 100); }
    // Bytes the far end sent after the kept text was dropped.
    void fresh(const QByteArray &bytes)
    {
        reader.clearReceive();
        link.waiting = bytes;
    }
    QueueLink link;
    LineReader reader;
};
} // namespace

TEST_F(LineReaderTest, SplitRepliesAreGatheredUntilTheMarker)
{
    link.waiting = "PASS";
    EXPECT_EQ(reader.readMarked(), QByteArray("PASS"));
    EXPECT_FALSE(reader.lineComplete());
    link.waiting = QByteArray("WORD\xF0\xF1", 6);
    // The text is kept, so later calls still see the whole reply.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(reader.readMarked(), QByteArray("PASSWORD"));
        EXPECT_TRUE(reader.lineComplete());
    }
    // Only the first marker is removed.
    fresh(QByteArray("A\xF0\xF1" "B\xF0\xF1", 6));
    EXPECT_EQ(reader.readMarked(), QByteArray("AB\xF0\xF1", 4));
}

TEST_F(LineReaderTest, PollEndAndMarkerAreLookedForIndependently)
{
    link.waiting = QByteArray("VALID OPERATOR\xFF", 15);
    EXPECT_EQ(reader.readMarkedOrPollEnd(), QByteArray("VALID OPERATOR"));
    EXPECT_TRUE(reader.lineComplete());
    fresh(QByteArray("X\xF0\xF1Y\xFFZ\xFF", 7));
    EXPECT_EQ(reader.readMarkedOrPollEnd(), QByteArray("XYZ\xFF", 4));
}

TEST_F(LineReaderTest, ZeroBytesShowAsXForLineReplies)
{
    link.waiting = QByteArray("NE\0W\r\n", 6);
    EXPECT_EQ(reader.readCrLf(), QByteArray("NEXW"));
    fresh(QByteArray("UI\0\r", 4));
    EXPECT_EQ(reader.readCr(), QByteArray("UIX"));
    // readMarked passes zero bytes unchanged
    fresh(QByteArray("\0\xF0\xF1", 3));
    EXPECT_EQ(reader.readMarked(), QByteArray(1, '\0'));
}

TEST_F(LineReaderTest, ReadsAreBoundedAndClearStartsAfresh)
{
    link.waiting = QByteArray(250, 'a');
    EXPECT_EQ(reader.readMarked().size(), 100);
    EXPECT_EQ(reader.readMarked().size(), 200);
    link.waiting += QByteArray("\xF0\xF1", 2);
    reader.readMarked();
    reader.readMarked();
    EXPECT_TRUE(reader.lineComplete());
    fresh("NEW");
    EXPECT_EQ(link.clears, 1);
    EXPECT_FALSE(reader.lineComplete());
    EXPECT_TRUE(reader.receiveText().isEmpty());
    EXPECT_EQ(reader.readMarked(), QByteArray("NEW"));

    // A far end that floods never grows the kept text past its bound.
    LineReader flooded;
    flooded.attach(&link, 70000);
    link.waiting = QByteArray(200000, 'z');
    for (int i = 0; i < 4; ++i)
        flooded.readMarked();
    EXPECT_EQ(flooded.receiveText().size(), LineReader::kMaxKept);
}
