// The launcher controller: a whole run, starting, game starts, supervision
// and how a game's end reaches the AIR client (also when no poll saw the game
// running), a Stop or removal while busy, and several connections at once.
#include <functional>
#include <memory>
#include <thread>

#include "core/platform/clock.h"
#include "launcher/controller_waits.h"
#include "launcher_test_support.h"
#include "process/process_waits.h"
#include "support/test_system.h"

namespace LauncherTest {
namespace {

using DruxTest::waitUntil;
using Arguments = std::vector<std::string>;

const std::string kAirCommandLine = "-runtime .\\ -nodebug META-INF\\AIR\\application.xml .\\ -- ";
const std::string kStartTag = "<KyrPreloadMessageToGameStart>";
const std::string kEndTag = "<KyrPreloadMessageToGameEnd>";

// True once some handler is inside one of the library's long waits (a pause,
// a poll, a wait for a program's exit): what it has not done yet it will not
// do before that wait ends.
bool aHandlerWaits() {
    return waitUntil([] { return Drux::processWaits().inProgress() + ControllerWaits::inProgress() > 0; });
}

std::string joined(const Arguments& args) {
    std::string line;
    for (const std::string& arg : args) line += (line.empty() ? "" : " ") + arg;
    return line;
}

TEST_F(ControllerTest, AnOrdinaryRunFromTheAirClientsStartToClose) {
    initAndStart();
    const Record airRun = runsOf(airPath_).at(0);
    EXPECT_EQ(kAirCommandLine + std::to_string(airPort_), joined(airRun.args));
    EXPECT_EQ(directory()->path(), airRun.fields.at("cwd"));
    Peer air(airPort_);
    air.link();

    // The game starts with its command line; its progress and chat reach the
    // AIR client, and the AIR client's chat reaches the game.
    ASSERT_TRUE(air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE, "play now"));
    const Record gameRun = runsOf(gamePath_).at(0);
    EXPECT_EQ((Arguments{std::to_string(gamePort_), launcherPath_, airPath_, "play now"}), gameRun.args);
    EXPECT_EQ(directory()->path(), gameRun.fields.at("cwd"));
    Peer game(gamePort_);
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED, "dropped");
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_CONNECTED_TO_SERVER);
    game.send(VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, "gg");
    EXPECT_EQ("gg", air.waitFor(VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME).value().payload);
    EXPECT_FALSE(air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED).value().payload);
    EXPECT_FALSE(air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_CONNECTED_TO_SERVER).value().payload);
    air.send(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "gl hf");
    EXPECT_EQ("gl hf", game.waitFor(VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME).value().payload);

    // The game announces its end: the AIR client hears of it once the game
    // has exited, and the next poll does not take the end for a crash.
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_STOPPED);
    ASSERT_TRUE(waitUntil([&] { return Drux::currentController()->gameEndReported == 1; }));
    ASSERT_TRUE(aHandlerWaits());  // for the game's exit
    EXPECT_EQ(0u, air.count(VANTRELMESSAGETYPE_GAMECLIENT_STOPPED));
    Drux::terminateProcess(gameRun.pid());
    EXPECT_FALSE(air.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_STOPPED).value().payload);
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    air.link();  // what the poll relayed has arrived
    EXPECT_EQ(0u, air.count(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED));

    // CLOSE: the game is told, the AIR client stopped and the host called back, once.
    ASSERT_TRUE(air.send(VANTRELMESSAGETYPE_CLOSE));
    ASSERT_TRUE(waitUntil([&] { return exitCalls_ == 1; }));
    EXPECT_EQ(this, exitContext_.load());
    EXPECT_TRUE(game.waitFor(VANTRELMESSAGETYPE_CLOSE));
    EXPECT_TRUE(waitGone(airRun.pid()));
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());  // no longer started: nothing to do
    EXPECT_EQ(1, exitCalls_.load());
}

TEST_F(ControllerTest, ExtraArgumentsOfUpTo2000CharactersAndOneStartAtATime) {
    ASSERT_EQ(1, init());
    EXPECT_EQ(0, VantrelServerController_StartArgs(std::string(2001, 'x').c_str()));
    EXPECT_TRUE(logContains("ERROR: Failed because arguments passed are too long.\n"));
    EXPECT_TRUE(runsOf(airPath_, 0).empty());
    const std::string longest(2000, 'y');
    ASSERT_EQ(1, VantrelServerController_StartArgs(longest.c_str()));
    EXPECT_EQ((kAirCommandLine + std::to_string(airPort_) + " " + longest).substr(0, 2047),
              joined(runsOf(airPath_).at(0).args));
    EXPECT_EQ(0, VantrelServerController_Start());

    // Stop touches neither server nor program: the next start meets both
    // servers listening and the AIR client running, reports each, and counts.
    EXPECT_EQ(1, VantrelServerController_Stop());
    EXPECT_EQ(1, VantrelServerController_Start());
    EXPECT_EQ((Errors{{nullptr, VANTRELERRORTYPE_GENERIC, "The controller is already started.\n"},
                      {nullptr, VANTRELERRORTYPE_AIRCOMMSTART, "Unable to start communications for air.\n"},
                      {nullptr, VANTRELERRORTYPE_GAMECOMMSTART, "Unable to start communications for game.\n"},
                      {nullptr, VANTRELERRORTYPE_AIRPROCESSSTART, "Unable to start air.\n"}}),
              takeErrors());
    EXPECT_EQ(1u, runsOf(airPath_, 0).size());
}

TEST_F(ControllerTest, ALauncherPortInUseFailsInitButLeavesAControllerToRemove) {
    Drux::SocketHandle blocker = Drux::socketCreate();
    ASSERT_TRUE(Drux::socketBind(blocker, launcherPort_) && Drux::socketListen(blocker));
    EXPECT_EQ(0, init());
    EXPECT_TRUE(logContains("ERROR: Unable to start communications for vantrel.\n"));
    EXPECT_EQ((Errors{{nullptr, VANTRELERRORTYPE_COMMUNICATIONSTART, "Unable to start communications for vantrel.\n"}}),
              takeErrors());
    EXPECT_NE(nullptr, VantrelServerController_GetAirServerHandle());
    EXPECT_EQ(1, VantrelServerController_Remove());
    EXPECT_EQ(nullptr, VantrelServerController_GetAirServerHandle());
    EXPECT_EQ(0, VantrelServerController_Remove());
    EXPECT_TRUE(logContains("ERROR: VantrelServerControllerStruct is not yet initialized.\n"));
    Drux::socketClose(blocker);
}

TEST_F(ControllerTest, ASecondCreateWaitsForTheRunningGameAndOnlyWarnsIfItKeepsRunning) {
    initAndStart();
    Peer air(airPort_);
    const Record first = startGame(air);
    EXPECT_EQ((Arguments{std::to_string(gamePort_), launcherPath_, airPath_, ""}), first.args);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE, "second");
    const std::string warning =
        "WARNING: VANTRELMESSAGETYPE_GAMECLIENT_CREATE message received while game is already running.";
    ASSERT_TRUE(waitUntil([&] { return logContains(warning); }));
    EXPECT_EQ(1u, runsOf(gamePath_, 0).size());
    EXPECT_TRUE(alive(first.pid()));

    // When the running game ends during the wait, the new one starts.
    Drux::testing::figures().gameRunningPollCount = 1000;
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE, "third");
    Drux::terminateProcess(first.pid());
    EXPECT_EQ("third", runsOf(gamePath_, 2).at(1).args.at(3));
    const std::string log = logText();
    EXPECT_EQ(log.find(warning), log.rfind(warning));
}

TEST_F(ControllerTest, AMalformedHeaderOnAnyServerEndsTheRun) {
    initAndStart();
    const Record airRun = runsOf(airPath_).at(0);
    Peer air(airPort_);
    const Record game = startGame(air, true);  // known to the launcher, to be stopped
    sendHeader(gamePort_, 20, 1, VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED);
    ASSERT_TRUE(waitUntil([&] { return exitCalls_ == 1; }));
    EXPECT_TRUE(waitGone(game.pid()));
    EXPECT_TRUE(waitGone(airRun.pid()));
    EXPECT_TRUE(logContains("WARNING: Invalid message header size on incoming message.\n"));
    EXPECT_EQ(0u, air.count(VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED));

    sendHeader(airPort_, 16, 2, VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
    ASSERT_TRUE(waitUntil([&] { return exitCalls_ == 2; }));
    EXPECT_EQ(1u, runsOf(gamePath_, 0).size());
    sendHeader(launcherPort_, 16, 1, 1000);
    ASSERT_TRUE(waitUntil([&] { return exitCalls_ == 3; }));
}

TEST_F(ControllerTest, PreloadStartsTheGameAndTheCredentialsAndPlayTextsReachEveryAirClient) {
    initAndStart();
    Peer first(airPort_), second(airPort_);
    first.link();
    second.link();
    const size_t had[] = {first.count(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME),
                          second.count(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME)};
    second.send(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, "whatever it carries");
    const std::string play = kStartTag + "{\"messageType\":\"PlayPreloadedGame\"}" + kEndTag;
    EXPECT_EQ(play, first.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, had[0] + 1).value().payload);
    EXPECT_EQ(play, second.waitFor(VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, had[1] + 1).value().payload);

    first.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD, "abc");
    const Record preloaded = runsOf(gamePath_).at(0);
    EXPECT_EQ((Arguments{"game_client_preload", "abc", std::to_string(airPort_), std::to_string(gamePort_)}),
              preloaded.args);
    // Counted from its start: the first poll leaves the preloaded game alone; a second preload only warns.
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_TRUE(alive(preloaded.pid()));
    first.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD);
    ASSERT_TRUE(waitUntil([&] {
        return logContains(
            "WARNING: VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD message received while "
            "game is already running.");
    }));
    EXPECT_EQ(1u, runsOf(gamePath_, 0).size());

    first.send(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS, "tok|en \"q\"");
    first.send(VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS);
    const std::string prefix = kStartTag + "{\"messageType\":\"UpdateGameWithCredentials\",\"commandLine\":\"|" +
                               std::to_string(gamePort_) + "| |" + launcherPath_ + "| |" + airPath_ + "| |";
    for (Peer* peer : {&first, &second}) {
        const int32_t type = VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS;
        EXPECT_EQ(prefix + "tok|en \"q\"|\"}" + kEndTag, peer->waitFor(type, 1).value().payload);
        EXPECT_EQ(prefix + "|\"}" + kEndTag, peer->waitFor(type, 2).value().payload);
    }
}

TEST_F(ControllerTest, CreateVersionStartsThePatchersPathOrFallsBackToTheDefaultGame) {
    installPatcher("full");
    const std::string versionGame = ProcessTest::installStandIn(gamePath_ + "-v7");
    DruxTest::writeFile("patcher-GameVersionToPath.txt", versionGame);
    initAndStart();
    Peer air(airPort_);
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION, "7.1 alpha beta");
    const Record versioned = runsOf(versionGame).at(0);
    EXPECT_EQ("alpha beta", versioned.args.at(3));
    ASSERT_TRUE(end(versioned));

    DruxTest::writeFile("patcher-GameVersionToPath.result", "0");
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION, "9.9");
    const Record fallback = runsOf(gamePath_).at(0);
    EXPECT_EQ("", fallback.args.at(3));
    EXPECT_TRUE(logContains("ERROR: Failed to get path for game version: 9.9, defaulting to latest\n"));
    EXPECT_EQ("GameVersionToPath 7.1 260\nGameVersionToPath 9.9 260\n", DruxTest::readFile("patcher-calls.log"));
    ASSERT_TRUE(end(fallback));

    // A game that cannot be started is reported and ends the run.
    DruxTest::writeFile("patcher-GameVersionToPath.result", "1");
    DruxTest::writeFile("patcher-GameVersionToPath.txt", directory()->file("missing/game"));
    air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION, "8.0");
    ASSERT_TRUE(waitUntil([&] { return exitCalls_ == 1; }));
    EXPECT_EQ((Errors{{this, VANTRELERRORTYPE_GAMEPROCESSSTART, "Unable to start game.\n"}}), takeErrors());
    EXPECT_TRUE(waitGone(runsOf(airPath_).at(0).pid()));
}

TEST_F(ControllerTest, TheAirClientIsLostAt150SilentSecondsNotAt149) {
    initAndStart();
    const Record airRun = runsOf(airPath_).at(0);
    const uint32_t stamp = Drux::currentController()->airHeartbeatTime;
    advanceToSecondsAfter(stamp, 149);
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_TRUE(takeErrors().empty());
    EXPECT_EQ(0, exitCalls_.load());
    EXPECT_TRUE(alive(airRun.pid()));

    advanceToSecondsAfter(stamp, 150);
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_EQ((Errors{{this, VANTRELERRORTYPE_AIRHEARTBEAT, "Contact with Air lost  version 1.\n"}}), takeErrors());
    EXPECT_EQ(1, exitCalls_.load());
    EXPECT_TRUE(waitGone(airRun.pid()));
}

TEST_F(ControllerTest, AnAirClientThatIsGoneEndsTheRunAndIsReportedOnlyWithoutAGame) {
    initAndStart();
    const Record airRun = runsOf(airPath_).at(0);
    Peer air(airPort_);
    const Record game = startGame(air, true);  // the poll sees it
    ASSERT_TRUE(end(airRun));
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_EQ(1, exitCalls_.load());
    EXPECT_TRUE(takeErrors().empty());

    ASSERT_TRUE(end(game));
    EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    EXPECT_EQ(2, exitCalls_.load());
    EXPECT_EQ((Errors{{this, VANTRELERRORTYPE_AIRHEARTBEAT, "Contact with Air lost version 2.\n"}}), takeErrors());
}

enum class End { Crash, CrashAfterAPoll, Stopped, Abandoned, KillAsked, Silent };

struct GameEnd {
    const char* name;
    int32_t request;  // what the AIR client asks for: an ordinary or a preloaded game
    End end;
    size_t crashReports;
};

void PrintTo(const GameEnd& c, std::ostream* out) { *out << c.name; }

class GameEndTest : public ControllerTest, public ::testing::WithParamInterface<GameEnd> {
protected:
    // Two polls after the game is gone and the launcher has its process; then
    // what the polls relayed has arrived.
    size_t crashReportsAfterPolls(Peer& air, const Record& game) {
        EXPECT_TRUE(waitGone(game.pid()));
        EXPECT_TRUE(waitUntil([&] { return Drux::processHelperState()->gameProcessId == game.pid(); }));
        EXPECT_EQ(1, VantrelServerController_ProcessEvents());
        EXPECT_EQ(1, VantrelServerController_ProcessEvents());
        air.link();
        return air.count(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED);
    }
};

TEST_P(GameEndTest, AGameThatEndsIsReportedAsCrashedOnceUnlessItAnnouncedItsEnd) {
    initAndStart();
    Peer air(airPort_, false);
    air.link();
    const End end = GetParam().end;
    const bool polled = end == End::CrashAfterAPoll || end == End::Silent;
    const Record first = startGame(air, polled, GetParam().request);
    if (polled) {
        EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    }
    if (end == End::Crash || end == End::CrashAfterAPoll) Drux::terminateProcess(first.pid());
    if (end == End::Stopped || end == End::Abandoned) {
        const int32_t type =
            end == End::Stopped ? VANTRELMESSAGETYPE_GAMECLIENT_STOPPED : VANTRELMESSAGETYPE_GAMECLIENT_ABANDONED;
        Peer game(gamePort_);
        game.send(type);
        ASSERT_TRUE(waitUntil([&] { return Drux::currentController()->gameEndReported == 1; }));
        Drux::terminateProcess(first.pid());
        EXPECT_TRUE(air.waitFor(type));
    }
    if (end == End::KillAsked) air.send(VANTRELMESSAGETYPE_KILL_GAMECLIENT_PROCESS);
    if (end == End::Silent) {  // the launcher stops a game silent for 150 s (the AIR client is not silent)
        advanceToSecondsAfter(Drux::currentController()->gameHeartbeatTime, 150);
        air.send(VANTRELMESSAGETYPE_HEARTBEAT);
        air.link();
        EXPECT_EQ(1, VantrelServerController_ProcessEvents());
    }
    EXPECT_EQ(GetParam().crashReports, crashReportsAfterPolls(air, first));

    // The next game is a new one: what the first announced does not cover it,
    // and its crash before any poll is reported once.
    const Record second = startGame(air, false, VANTRELMESSAGETYPE_GAMECLIENT_CREATE, 2);
    Drux::terminateProcess(second.pid());
    EXPECT_EQ(GetParam().crashReports + 1, crashReportsAfterPolls(air, second));
    for (const Message& crash : air.of(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED)) EXPECT_FALSE(crash.payload);
    EXPECT_EQ(0, exitCalls_.load());
}

constexpr int32_t kCreate = VANTRELMESSAGETYPE_GAMECLIENT_CREATE;
constexpr int32_t kPreload = VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD;
INSTANTIATE_TEST_SUITE_P(Ends, GameEndTest,
                         ::testing::Values(GameEnd{"Crash", kCreate, End::Crash, 1},
                                           GameEnd{"CrashAfterAPoll", kCreate, End::CrashAfterAPoll, 1},
                                           GameEnd{"PreloadedCrash", kPreload, End::Crash, 1},
                                           GameEnd{"Stopped", kCreate, End::Stopped, 0},
                                           GameEnd{"PreloadedAbandoned", kPreload, End::Abandoned, 0},
                                           GameEnd{"KillAsked", kCreate, End::KillAsked, 1},
                                           GameEnd{"Silent", kCreate, End::Silent, 1}),
                         [](const ::testing::TestParamInfo<GameEnd>& info) { return std::string(info.param.name); });

// A host watching for Ctrl-C on its own thread stops the controller while the
// start is in its pauses (here long enough that only the cut can end them).
// The cut is the start's alone: a handler waiting meanwhile for a game's end
// (after STOPPED) waits on and sees the game end.
TEST_F(ControllerTest, AStopFromAnotherThreadCutsOnlyTheStartShortAndLeavesItStopped) {
    Drux::testing::figures().processStartPauseMs = 600000;
    ASSERT_EQ(1, init());
    ProcessTest::StartedProcesses programs;
    const Drux::ProcessId game = programs.launch(gamePath_);
    std::atomic<int32_t> sawTheGameEnd{-1};
    std::thread handler([&] { sawTheGameEnd = Drux::processWaits().waitForProcessExit(game, 600000) ? 1 : 0; });
    ASSERT_TRUE(waitUntil([] { return Drux::processWaits().inProgress() == 1; }));
    std::atomic<int32_t> started{-1};
    std::thread host([&] { started = VantrelServerController_Start(); });
    const Record air = runsOf(airPath_).at(0);  // the AIR client is started: the start is pausing
    EXPECT_EQ(1, VantrelServerController_Stop());
    host.join();
    EXPECT_EQ(0, started.load());
    Drux::terminateProcess(game);
    handler.join();
    EXPECT_EQ(1, sawTheGameEnd.load());
    EXPECT_EQ(0, Drux::currentController()->isStarted.load());
    EXPECT_TRUE(logContains("INFO: The start was stopped before it ended.\n"));
    // Only that start's pauses were cut: later ones run in full again.
    EXPECT_FALSE(Drux::processWaits().interrupted());
    EXPECT_TRUE(alive(air.pid()));  // the host's to close
}

TEST_F(ControllerTest, RemoveWhileAHandlerWaitsReturnsPromptlyWithoutCallingTheHost) {
    Drux::Figures& figures = Drux::testing::figures();
    // Each case puts a handler into a long wait: 0 for a running game to end,
    // 1 in the pause after a game's start, 2 in a CLOSE's grace, 3 for an announced game end.
    for (int wait = 0; wait < 4; ++wait) {
        SCOPED_TRACE(wait);
        figures.processStartPauseMs = 10;
        initAndStart();
        if (wait == 1) figures.processStartPauseMs = 60000;
        figures.gameRunningPollCount = 10000;
        figures.closeStopGraceMs = 60000;
        figures.processExitWaitMs = 60000;
        Peer air(airPort_);
        std::optional<Peer> game;
        air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
        runsOf(gamePath_, wait + 1);
        if (wait == 0) air.send(VANTRELMESSAGETYPE_GAMECLIENT_CREATE);
        if (wait == 2) air.send(VANTRELMESSAGETYPE_CLOSE);
        if (wait == 3) game.emplace(gamePort_).send(VANTRELMESSAGETYPE_GAMECLIENT_STOPPED);  // but it runs on
        ASSERT_TRUE(aHandlerWaits());
        // The waits are a minute long and the clock stands still: only the
        // removal's interruption can end them before its own bound.
        EXPECT_EQ(1, VantrelServerController_Remove());
        EXPECT_FALSE(logContains("A message handler is still busy while the controller is removed.\n"));
        EXPECT_EQ(0u, Drux::processWaits().inProgress() + ControllerWaits::inProgress());
        EXPECT_EQ(0, exitCalls_.load());
    }
    EXPECT_FALSE(logContains("while game is already running"));
}

// A host that removes the controller from inside its own callback is refused:
// the controller would be freed under the handler that is calling back.
TEST_F(ControllerTest, RemoveFromInsideACallbackIsRefused) {
    initAndStart();
    static std::atomic<int32_t> result;
    result = -1;
    VantrelServerController_SetExitCallback(nullptr, [](void*) { result = VantrelServerController_Remove(); });
    Peer air(airPort_);
    air.send(VANTRELMESSAGETYPE_CLOSE);
    ASSERT_TRUE(waitUntil([&] { return result.load() != -1; }));
    EXPECT_EQ(0, result.load());
    EXPECT_TRUE(
        logContains("ERROR: VantrelServerController_Remove cannot be called from inside a controller callback.\n"));
    EXPECT_NE(nullptr, Drux::currentController());
}

TEST_F(ControllerTest, TwoAirClientsAskingAtOnceBothGetEveryAnswer) {
    initAndStart();
    Peer first(airPort_), second(airPort_);
    first.link();
    second.link();
    constexpr size_t kRequests = 40;
    const int32_t credentials = VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS;
    auto ask = [&](Peer* peer, const char* name) {
        for (size_t i = 0; i < kRequests; ++i) {
            peer->send(VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS);
            peer->send(credentials, name);
            peer->send(VANTRELMESSAGETYPE_HEARTBEAT);
        }
    };
    std::thread a(ask, &first, "one"), b(ask, &second, "two");
    a.join();
    b.join();
    for (Peer* peer : {&first, &second}) {
        ASSERT_TRUE(peer->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS, 2 * kRequests));
        ASSERT_TRUE(peer->waitFor(credentials, 2 * kRequests));
        for (const Message& m : peer->of(VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS))
            EXPECT_EQ("[]", m.payload);
        size_t fromFirst = 0, fromSecond = 0;
        for (const Message& m : peer->of(credentials)) {
            fromFirst += m.payload->find("| |one|\"}") != std::string::npos ? 1 : 0;
            fromSecond += m.payload->find("| |two|\"}") != std::string::npos ? 1 : 0;
        }
        EXPECT_EQ(kRequests, fromFirst);
        EXPECT_EQ(kRequests, fromSecond);
    }
}

TEST_F(ControllerTest, RelaysAndBroadcastsMeetAirClientsBeingAccepted) {
    // Fewer under Wine, where each accept's owner check reads every process's
    // descriptor table once per connection it lists.
    const int batch = DruxTest::runningUnderWine() ? 4 : 12;
    initAndStart();
    Peer game(gamePort_);
    std::vector<std::unique_ptr<Peer>> clients;
    std::thread relaying([&] {
        for (int i = 0; i < 300; ++i) game.send(VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME, "busy");
    });
    for (int i = 0; i < batch; ++i) clients.push_back(std::make_unique<Peer>(airPort_));
    relaying.join();
    // Every client that has had an answer is listed, so the last relay reaches all.
    for (auto& client : clients) client->link();
    game.send(VANTRELMESSAGETYPE_GAMECLIENT_GAME_LOADING_COMPLETE);
    for (auto& client : clients) EXPECT_TRUE(client->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_GAME_LOADING_COMPLETE));

    // The host's own broadcasts on the AIR server race with the same accepts.
    std::thread accepting([&] {
        for (int i = 0; i < batch; ++i) clients.push_back(std::make_unique<Peer>(airPort_));
    });
    for (int i = 0; i < 100; ++i) VantrelServerController_CheckGameTerminationState();
    accepting.join();
    EXPECT_TRUE(clients.front()->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED, 100));
    clients.back()->link();  // accepted last: every connection is listed
    VantrelServerController_CheckGameTerminationState();
    for (auto& client : clients) EXPECT_TRUE(client->waitFor(VANTRELMESSAGETYPE_GAMECLIENT_CRASHED));
}

}  // namespace
}  // namespace LauncherTest
