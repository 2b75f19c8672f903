// A network unit's frames are filed when their bytes come (the socket's
// readyRead), each with the steps a tick gives it; detection and the ticks'
// polling are as before.
#include "core/datetime.h"
#include "protocols/arx_testpage.h"

namespace {

class ArxArrivalTest : public ArxPageTest {
protected:
    int connectionType() const override { return connection::Network; }
    void bytesCome() { page->session()->onSocketRead(); }
    QByteArray previousArx() const
    {
        const RelayStore &s = page->store();
        return s.ringEntry(RecordKind::Arx, (s.frameIndex() + RelayStore::kRingSize - 1) % RelayStore::kRingSize);
    }
};

TEST_F(ArxArrivalTest, FramesAreFiledWhenTheirBytesCome)
{
    // Reads during detection leave its replies to the line reader.
    scriptLogin();
    page->openLink();
    for (int i = 0; i < 100 && record().phase != 4; ++i) {
        tick();
        bytesCome();
    }
    ASSERT_EQ(record().phase, 4);

    const QByteArray third = arxFrame(0xFC, 0x33);
    link.queue(arxFrame(0xFC, 0x11) + arxFrame(0xEC, 0x22) + third.left(40), 0);
    bytesCome();
    EXPECT_EQ(page->store().sequence(), 2u);
    EXPECT_EQ(previousArx().left(100), arxFrame(0xFC, 0x11));
    EXPECT_EQ(page->store().newest(RecordKind::Arx), arxFrame(0xEC, 0x22) + datetime::stampOf(clock.now()));
    EXPECT_EQ(record().framesSinceShown, 2);
    EXPECT_FALSE(record().newData); // decoded as it came

    link.queue(third.mid(40), 0);
    bytesCome();
    EXPECT_EQ(page->store().newest(RecordKind::Arx).left(100), third);
    link.takeSent();
    ticks(12); // over half a second: the tick polls, and finds nothing to file
    EXPECT_EQ(page->store().sequence(), 3u);
    const QByteArray sent = link.takeSent();
    EXPECT_FALSE(sent.isEmpty());
    EXPECT_EQ(sent, QByteArray(sent.size(), '\xFF'));
}

} // namespace
