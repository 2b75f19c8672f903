// A relay server's dialect when its source is the log player, and how a
// client's reset and its orderly close are told apart.
#include "server/relayfixture.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

class ClientEnds : public RelayFixture {};

TEST_F(ClientEnds, LogFileSourceSpeaksArxEvenWithoutAPlayer)
{
    source.type = 2; // an HD page
    RelayServer server(4, dir.path(), log, clock, [this](int n) -> RelaySource * {
        return n == 1 ? &source : nullptr; // no log player answers
    });
    server.setTimerRunning(false);
    server.setSettings({1, false, 0, false});
    server.showStatus();
    EXPECT_EQ(server.sourceType(), 2);
    server.setSettings({9, false, 0, false});
    server.showStatus();
    EXPECT_EQ(server.sourceType(), 0);
    server.setSettings({0, false, 0, false}); // none: keeps what it had
    server.showStatus();
    EXPECT_EQ(server.sourceType(), 0);
}

TEST_F(ClientEnds, ResetIsReportedOrderlyCloseIsNot)
{
    auto server = makeServer();
    auto closing = connectClient(*server);
    closing->socket.disconnectFromHost();
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 0; }));
    EXPECT_EQ(log.count(), 0) << log.line(0).toStdString();

    // A plain socket closed with a zero linger time sends a reset.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(server->serverPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 1; }));
    const linger noLinger{1, 0};
    ASSERT_EQ(::setsockopt(fd, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger), 0);
    ::close(fd);
    ASSERT_TRUE(pumpUntil([&] { return server->clientCount() == 0; }));
    ASSERT_EQ(log.count(), 1);
    EXPECT_TRUE(log.line(0).startsWith("ERROR (")) << log.line(0).toStdString();
    EXPECT_TRUE(log.line(0).contains("<Server1>   Socket Error(10054): ")) << log.line(0).toStdString();
}

} // namespace
