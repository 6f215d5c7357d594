// Several connections at once: handlers of different connections run at the
// same time on one controller, and broadcasts meet connections being accepted.
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "controller_fixture.h"
#include "launcher/patch_bridge.h"

namespace LauncherTest {
namespace {

TEST_F(ControllerTest, TwoAirClientsAskingAtOnceBothGetEveryAnswer) {
    Drux::testing::resetPatchSupport();
    initAndStart();
    FakePeer first(airPort_), second(airPort_);
    linkAirClient(first);
    linkAirClient(second);

    constexpr size_t kRequests = 40;
    auto ask = [](FakePeer* peer, const char* credentials) {
        for (size_t i = 0; i < kRequests; ++i) {
            peer->send(VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS);
            peer->send(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS, credentials);
            peer->send(VANTRELMESSAGETYPE_HEARTBEAT);
        }
    };
    std::thread a(ask, &first, "one"), b(ask, &second, "two");
    a.join();
    b.join();

    for (FakePeer* peer : {&first, &second}) {
        ASSERT_TRUE(peer->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS, 2 * kRequests));
        ASSERT_TRUE(
            peer->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS, 2 * kRequests));
        size_t fromFirst = 0, fromSecond = 0;
        for (const Message& m : peer->received()) {
            if (m.type == VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS) {
                EXPECT_EQ("[]", m.payload.value_or("(none)"));
            }
            if (m.type != VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS) continue;
            fromFirst += m.payload->find("| |one|\"}") != std::string::npos ? 1 : 0;
            fromSecond += m.payload->find("| |two|\"}") != std::string::npos ? 1 : 0;
        }
        EXPECT_EQ(kRequests, fromFirst);
        EXPECT_EQ(kRequests, fromSecond);
    }
    Drux::testing::resetPatchSupport();
}

TEST_F(ControllerTest, RelaysFromTheGameMeetAirClientsBeingAccepted) {
    initAndStart();
    FakePeer game(gamePort_);
    ASSERT_TRUE(game.connected());

    constexpr size_t kClients = 12;
    std::vector<std::unique_ptr<FakePeer>> clients;
    std::thread relaying([&] {
        for (int i = 0; i < 300; ++i) game.send(VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, "busy");
    });
    for (size_t i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<FakePeer>(airPort_));
    }
    relaying.join();
    // Every client that has had an answer is listed, so the last relay reaches all.
    for (auto& client : clients) linkAirClient(*client);
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_GAME_LOADING_COMPLETE);
    for (auto& client : clients) EXPECT_TRUE(client->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_GAME_LOADING_COMPLETE));

    // The host's own broadcasts on the AIR server race with the same accepts.
    std::thread accepting([&] {
        for (size_t i = 0; i < kClients; ++i) clients.push_back(std::make_unique<FakePeer>(airPort_));
    });
    for (int i = 0; i < 100; ++i) VantrelServerController_CheckGameTerminationState();
    accepting.join();
    EXPECT_TRUE(clients.front()->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED, 100));
    linkAirClient(*clients.back());
    VantrelServerController_CheckGameTerminationState();
    for (auto& client : clients) EXPECT_TRUE(client->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED));
}

}  // namespace
}  // namespace LauncherTest
