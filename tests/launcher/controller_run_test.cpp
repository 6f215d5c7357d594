// A run as the AIR client and the game see it: the game's start, the relays in
// both directions, the end of the game and of the run, and the preloaded game.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "controller_fixture.h"
#include "core/figures.h"
#include "launcher/patch_bridge.h"

namespace LauncherTest {
namespace {

using DruxTest::waitUntil;

const std::string kStartTag = "<KyrPreloadMessageToGameStart>";
const std::string kEndTag = "<KyrPreloadMessageToGameEnd>";

TEST_F(ControllerTest, AnOrdinaryRunFromTheGamesStartToClose) {
    initAndStart();
    const ProgramRun airRun = runsOf(airPath_).at(0);
    FakePeer air(airPort_);
    linkAirClient(air);

    // The game is started with its command line and connects back.
    ASSERT_TRUE(air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE, "connect"));
    const std::vector<ProgramRun> games = runsOf(gamePath_);
    ASSERT_EQ(1u, games.size());
    EXPECT_EQ((std::vector<std::string>{std::to_string(gamePort_), launcherPath_, airPath_, "connect"}),
              games[0].args);
    EXPECT_EQ(directory()->path(), games[0].cwd);

    const auto launched = air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED);
    ASSERT_TRUE(launched);
    EXPECT_FALSE(launched->payload);
    const auto connected = air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_CONNECTED_TO_SERVER);
    ASSERT_TRUE(connected);
    EXPECT_FALSE(connected->payload);

    // Chat both ways: the game answers each line (once the game server lists
    // its connection, which may be just after its first messages).
    std::optional<Message> echo;
    for (int attempt = 0; attempt < 50 && !echo; ++attempt) {
        ASSERT_TRUE(air.send(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "gl hf"));
        echo = air.waitFor(VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, 1, 100ms);
    }
    ASSERT_TRUE(echo);
    EXPECT_EQ("echo:gl hf", echo->payload.value_or("(none)"));

    // The game announces its end and exits; the AIR client hears of it after
    // the exit, and the next poll does not take it for a crash.
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    ASSERT_TRUE(air.send(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "stop"));
    const auto stopped = air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_STOPPED);
    ASSERT_TRUE(stopped);
    EXPECT_FALSE(stopped->payload);
    EXPECT_FALSE(alive(games[0].pid));
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_EQ(0u, air.count(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED));

    // CLOSE ends the run: the AIR client is stopped and the host told.
    ASSERT_TRUE(air.send(VANTRELMESSAGETYPE_CLOSE));
    ASSERT_TRUE(waitUntil([&] { return exitCalls() == 1; }));
    EXPECT_EQ(this, exitContext_.load());
    EXPECT_TRUE(waitGone(airRun.pid));
    // No longer started: polls do nothing although the AIR client is gone.
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_EQ(1, exitCalls());
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(1, VantrelServerController_Remove());
}

TEST_F(ControllerTest, CreateWithoutPayloadGivesAnEmptyFourthFieldAndTheGameHeardFromIsRelayed) {
    initAndStart();
    FakePeer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    const std::vector<ProgramRun> games = runsOf(gamePath_);
    ASSERT_EQ(1u, games.size());
    EXPECT_EQ((std::vector<std::string>{std::to_string(gamePort_), launcherPath_, airPath_, ""}), games[0].args);

    // What the game server relays, and what it keeps to itself.
    linkAirClient(air);
    FakePeer game(gamePort_);
    linkGameConnection(air, game);
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "dropped");
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_VERSION_MISMATCH);
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_INITIAL_PRELOAD_COMPLETE, "dropped");
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PLAYER_CONNECTION, "kept");
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_GAME_LOADING_COMPLETE);
    game.send(VANTRELMESSAGETYPE_CLOSE);
    game.send(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "x");
    game.send(VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, "last");
    ASSERT_TRUE(air.waitFor(VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME));
    std::vector<Message> relayed;
    for (const Message& m : air.received())
        if (m.type != VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME) relayed.push_back(m);
    ASSERT_EQ(6u, relayed.size());
    const int32_t expectedTypes[] = {8, 9, 30, 31, 33, 12};
    for (size_t i = 0; i < relayed.size(); ++i) EXPECT_EQ(expectedTypes[i], relayed[i].type) << i;
    EXPECT_FALSE(relayed[0].payload);
    EXPECT_FALSE(relayed[2].payload);
    EXPECT_EQ("kept", relayed[3].payload.value_or("(none)"));
    EXPECT_EQ("last", relayed[5].payload.value_or("(none)"));
    EXPECT_EQ(0, exitCalls());

    // Chat from the AIR client reaches the game connection.
    const size_t heard = game.count(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME);
    air.send(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "to game");
    const auto chat = game.waitFor(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, heard + 1);
    ASSERT_TRUE(chat);
    EXPECT_EQ("to game", chat->payload.value_or("(none)"));
}

TEST_F(ControllerTest, ASecondCreateWaitsForTheRunningGameAndOnlyWarnsIfItKeepsRunning) {
    initAndStart();
    FakePeer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    const ProgramRun first = runsOf(gamePath_).at(0);

    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE, "second");
    const std::string warning =
        "WARNING: VANTRELMESSAGETYPE_GAMECLIENT_CREATE message received while game is already running.";
    ASSERT_TRUE(waitUntil([&] { return logContains(warning); }));
    EXPECT_EQ(1u, recordedRuns(gamePath_).size());
    EXPECT_TRUE(alive(first.pid));
    EXPECT_TRUE(errors().empty());

    // When the running game ends during the wait, the new one starts.
    Drux::testing::figures().gameRunningPollCount = 1000;
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE, "third");
    Drux::terminateProcess(first.pid);
    const std::vector<ProgramRun> games = runsOf(gamePath_, 2);
    ASSERT_EQ(2u, games.size());
    EXPECT_EQ("third", games[1].args.at(3));
    EXPECT_EQ(1u, logCount(warning));
}

TEST_F(ControllerTest, AGameThatCannotBeStartedIsReportedAndEndsTheRun) {
    initAndStart();
    const ProgramRun airRun = runsOf(airPath_).at(0);
    std::filesystem::remove(gamePath_);
    FakePeer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    ASSERT_TRUE(waitUntil([&] { return exitCalls() == 1; }));
    const std::vector<ReportedError> reported = errors();
    ASSERT_EQ(1u, reported.size());
    EXPECT_EQ(VANTRELERRORTYPE_GAMEPROCESSSTART, reported[0].type);
    EXPECT_EQ("Unable to start game.\n", reported[0].text);
    EXPECT_TRUE(waitGone(airRun.pid));
}

TEST_F(ControllerTest, AMalformedHeaderOnAnyServerEndsTheRun) {
    initAndStart();
    const ProgramRun airRun = runsOf(airPath_).at(0);
    FakePeer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    const ProgramRun game = runsOf(gamePath_).at(0);

    RawPeer onGame(gamePort_);
    ASSERT_TRUE(onGame.sendHeader(20, 1, VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, 0));
    ASSERT_TRUE(waitUntil([&] { return exitCalls() == 1; }));
    EXPECT_TRUE(waitGone(game.pid));
    EXPECT_TRUE(waitGone(airRun.pid));
    EXPECT_TRUE(logContains("WARNING: Invalid message header size on incoming message.\n"));
    EXPECT_EQ(0u, air.count(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED));

    RawPeer onAir(airPort_);
    ASSERT_TRUE(onAir.sendHeader(16, 2, VANTRELMESSAGETYPE_GAMECLIENT_CREATE, 0));
    ASSERT_TRUE(waitUntil([&] { return exitCalls() == 2; }));
    EXPECT_EQ(1u, recordedRuns(gamePath_).size());

    RawPeer onLauncher(launcherPort_);
    ASSERT_TRUE(onLauncher.sendHeader(16, 1, 1000, 0));
    ASSERT_TRUE(waitUntil([&] { return exitCalls() == 3; }));
    EXPECT_TRUE(errors().empty());
}

TEST_F(ControllerTest, PreloadStartsTheGameAndTheCredentialsAndPlayTextsReachEveryAirClient) {
    initAndStart();
    FakePeer first(airPort_), second(airPort_);
    linkAirClient(first);
    linkAirClient(second);
    const size_t firstHad = first.count(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME);
    const size_t secondHad = second.count(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME);
    second.send(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, "whatever it carries");
    ASSERT_TRUE(first.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, firstHad + 1));
    const auto play = second.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, secondHad + 1);
    ASSERT_TRUE(play);
    const std::string playText = kStartTag + "{\"messageType\":\"PlayPreloadedGame\"}" + kEndTag;
    EXPECT_EQ(93u, playText.size());
    EXPECT_EQ(playText, play->payload.value_or("(none)"));

    first.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD, "abc");
    const std::vector<ProgramRun> games = runsOf(gamePath_);
    ASSERT_EQ(1u, games.size());
    EXPECT_EQ("game_client_preload abc " + std::to_string(airPort_) + " " + std::to_string(gamePort_),
              games[0].commandLine());
    // Counted from its start: the first poll leaves the preloaded game alone.
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_TRUE(alive(games[0].pid));

    first.send(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS, "tok|en \"q\"");
    first.send(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS);
    const std::string fields = "\"|" + std::to_string(gamePort_) + "| |" + launcherPath_ + "| |" + airPath_ + "| |";
    const std::string prefix = kStartTag + "{\"messageType\":\"UpdateGameWithCredentials\",\"commandLine\":" + fields;
    for (FakePeer* peer : {&first, &second}) {
        const auto withPayload = peer->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS);
        const auto without = peer->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS, 2);
        ASSERT_TRUE(withPayload && without);
        EXPECT_EQ(prefix + "tok|en \"q\"|\"}" + kEndTag, withPayload->payload.value_or("(none)"));
        EXPECT_EQ(prefix + "|\"}" + kEndTag, without->payload.value_or("(none)"));
        EXPECT_EQ(116 + (fields.size() + 2), without->payload->size());
    }
}

TEST_F(ControllerTest, APreloadWithoutPayloadHasTwoBlanksAndWaitsForARunningGame) {
    initAndStart();
    FakePeer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD);
    const ProgramRun preloaded = runsOf(gamePath_).at(0);
    EXPECT_EQ((std::vector<std::string>{"game_client_preload", std::to_string(airPort_), std::to_string(gamePort_)}),
              preloaded.args);

    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD, "again");
    ASSERT_TRUE(waitUntil([&] {
        return logContains(
            "WARNING: VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD message received while game is already "
            "running.");
    }));
    EXPECT_EQ(1u, recordedRuns(gamePath_).size());
}

// The host's patch table knows one version, 7.1, installed at this path.
std::string g_versionGamePath;

int32_t versionToPath(const char* version, char* path, int32_t size) {
    if (version == nullptr || std::string(version) != "7.1") return 0;
    std::snprintf(path, static_cast<size_t>(size), "%s", g_versionGamePath.c_str());
    return 1;
}

TEST_F(ControllerTest, CreateVersionStartsTheVersionsGameOrFallsBackToTheDefault) {
    Drux::testing::resetPatchSupport();
    const std::string versionGame = copyGameProgram("-v7");
    g_versionGamePath = versionGame;
    PatchFunctionTable table = {};
    table.functions[1] = reinterpret_cast<VantrelPatchFunction>(&versionToPath);
    ASSERT_EQ(1, init(&table));
    ASSERT_EQ(1, VantrelServerController_Start());
    FakePeer air(airPort_);
    linkAirClient(air);

    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION, "7.1 alpha beta");
    const std::vector<ProgramRun> versioned = runsOf(versionGame);
    ASSERT_EQ(1u, versioned.size());
    EXPECT_EQ("alpha beta", versioned[0].args.at(3));
    Drux::terminateProcess(versioned[0].pid);
    ASSERT_TRUE(waitGone(versioned[0].pid));

    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION, "9.9");
    const std::vector<ProgramRun> fallback = runsOf(gamePath_);
    ASSERT_EQ(1u, fallback.size());
    EXPECT_EQ("", fallback[0].args.at(3));
    EXPECT_TRUE(logContains("ERROR: Failed to get path for game version: 9.9, defaulting to latest\n"));

    // Without a payload nothing happens and nothing is logged.
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME);
    ASSERT_TRUE(air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME));
    EXPECT_EQ(1u, recordedRuns(versionGame).size());
    EXPECT_EQ(1u, recordedRuns(gamePath_).size());
    EXPECT_EQ(1u, logCount("Failed to get path for game version"));
    EXPECT_FALSE(logContains("Unable to start game."));
    Drux::testing::resetPatchSupport();
}

}  // namespace
}  // namespace LauncherTest
