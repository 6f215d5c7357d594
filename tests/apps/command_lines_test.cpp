// How the stand-ins read what they are given: the AIR client's scripts and
// command line, the game's two command lines and the preload texts.
#include <gtest/gtest.h>

#include "VantrelTypes.h"
#include "command_line.h"
#include "options.h"
#include "script.h"

namespace {

using DruxAir::Action;
using DruxAir::Command;

Command parsed(const std::string& line) {
    Command command;
    bool blank = true;
    std::string error;
    EXPECT_TRUE(DruxAir::parseCommand(line, 1, &command, &blank, &error)) << line << ": " << error;
    EXPECT_FALSE(blank) << line;
    return command;
}

std::string refusal(const std::string& script) {
    std::vector<Command> commands;
    std::string error;
    EXPECT_FALSE(DruxAir::parseScript(script, false, &commands, &error)) << script;
    return error;
}

TEST(AirScript, CommandsBecomeTheirMessages) {
    struct Case {
        const char* line;
        int32_t type;
        const char* payload;  // null: no payload at all
    } cases[] = {
        {"create game", VANTRELMESSAGETYPE_GAMECLIENT_CREATE, nullptr},
        {"create game  -a  b ", VANTRELMESSAGETYPE_GAMECLIENT_CREATE, "-a  b"},
        {"create version 1.2 x y", VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION, "1.2 x y"},
        {"create version 1.2", VANTRELMESSAGETYPE_GAMECLIENT_CREATE_VERSION, "1.2"},
        {"preload", VANTRELMESSAGETYPE_GAMECLIENT_CREATE_CLIENT_AND_PRELOAD, nullptr},
        {"credentials u=1 p=2", VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS, "u=1 p=2"},
        {"play", VANTRELMESSAGETYPE_GAMECLIENT_PLAY_PRELOADED_GAME, nullptr},
        {"chat hi; there", VANTRELMESSAGETYPE_CHATMESSAGE_TO_GAME, "hi; there"},
        {"enumerate latest", VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_LATEST_VERSIONS, "all"},
        {"enumerate uninstallable", VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS, nullptr},
        {"install progress", VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_PROGRESS, nullptr},
        {"install 2.0", VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_VERSION, "2.0"},
        {"uninstall cancel", VANTRELMESSAGETYPE_GAMECLIENT_CANCEL_UNINSTALL, nullptr},
        {"kill game", VANTRELMESSAGETYPE_KILL_GAMECLIENT_PROCESS, nullptr},
        {"send 20 replay", VANTRELMESSAGETYPE_PLAY_REPLAY, "replay"},
        {"send vantrelmessagetype_launcherclient", VANTRELMESSAGETYPE_LAUNCHERCLIENT, nullptr},
    };
    for (const Case& c : cases) {
        const Command command = parsed(c.line);
        EXPECT_EQ(command.action, Action::Send) << c.line;
        EXPECT_EQ(command.type, c.type) << c.line;
        EXPECT_EQ(command.hasPayload, c.payload != nullptr) << c.line;
        EXPECT_EQ(command.payload, c.payload ? c.payload : "") << c.line;
    }
}

TEST(AirScript, WaitsReadTypeTimeOutAndExpectedText) {
    Command wait = parsed("wait CHATMESSAGE_FROM_GAME 2.5 echo: a b");
    EXPECT_EQ(wait.action, Action::Wait);
    EXPECT_EQ(wait.type, VANTRELMESSAGETYPE_CHATMESSAGE_FROM_GAME);
    EXPECT_DOUBLE_EQ(wait.seconds, 2.5);
    EXPECT_EQ(wait.expectedText, "echo: a b");
    wait = parsed("wait LAUNCHED");  // GAMECLIENT_ may be left out
    EXPECT_EQ(wait.type, VANTRELMESSAGETYPE_GAMECLIENT_LAUNCHED);
    EXPECT_DOUBLE_EQ(wait.seconds, DruxAir::kDefaultWaitSeconds);
    wait = parsed("wait 27 [\"1.0\"]");  // text without a time-out
    EXPECT_EQ(wait.type, VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS);
    EXPECT_EQ(wait.expectedText, "[\"1.0\"]");
    EXPECT_EQ(parsed("close").action, Action::Close);
}

TEST(AirScript, MalformedLinesAreRefusedWithTheirLineNumber) {
    EXPECT_EQ(refusal("create game\n\n# fine\nfly away"), "line 4: unknown command \"fly\" in \"fly away\"");
    EXPECT_NE(refusal("wait NOT_A_TYPE").find("unknown message type \"NOT_A_TYPE\""), std::string::npos);
    EXPECT_NE(refusal("wait 38").find("unknown message type \"38\""), std::string::npos);
    EXPECT_NE(refusal("wait LAUNCHED 0").find("above 0"), std::string::npos);
    EXPECT_NE(refusal("sleep soon").find("\"sleep\" needs a number of seconds"), std::string::npos);
    EXPECT_NE(refusal("chat").find("\"chat\" needs a text"), std::string::npos);
    EXPECT_NE(refusal("create version").find("needs a version"), std::string::npos);
    EXPECT_NE(refusal("play now").find("takes no further text"), std::string::npos);
    EXPECT_EQ(refusal("close\nchat late"), "line 2: nothing may follow \"close\"");
}

TEST(AirScript, SemicolonsSeparateCommandsOnlyWhenAsked) {
    std::vector<Command> commands;
    std::string error;
    ASSERT_TRUE(DruxAir::parseScript("create game; wait LAUNCHED 5;close", true, &commands, &error)) << error;
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[2].action, Action::Close);
    ASSERT_TRUE(DruxAir::parseScript("chat a; b", false, &commands, &error)) << error;
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].payload, "a; b");
}

TEST(AirOptions, TheLaunchersCommandLineYieldsThePortAndTheExtraOptions) {
    const char* argv[] = {"KyrCLient.exe", "-runtime", ".\\", "-nodebug", "META-INF\\AIR\\application.xml",
                          ".\\", "--", "47311", "--script", "run.air"};
    DruxAir::Options options;
    std::string error;
    ASSERT_TRUE(DruxAir::parseOptions(10, const_cast<char**>(argv), &options, &error)) << error;
    EXPECT_EQ(options.port, 47311);
    EXPECT_EQ(options.scriptFile, "run.air");
    EXPECT_TRUE(options.startedByLauncher);

    const char* extra[] = {"KyrCLient.exe", "--", "47311", "stray"};
    DruxAir::Options refused;
    EXPECT_FALSE(DruxAir::parseOptions(4, const_cast<char**>(extra), &refused, &error));
    EXPECT_EQ(error, "unexpected argument \"stray\" after the port");
    const char* both[] = {"KyrCLient.exe", "--script", "a", "--commands", "b", "--", "1"};
    EXPECT_FALSE(DruxAir::parseOptions(7, const_cast<char**>(both), &refused, &error));
}

TEST(GameCommandLine, OrdinaryAndPreloadFormsAreRecognised) {
    DruxGame::CommandLine line;
    std::string error;
    const char* ordinary[] = {"/g/drux-game", "47312", "/l/drux-launcher", "/a/KyrCLient.exe", ""};
    ASSERT_TRUE(DruxGame::parseCommandLine(5, ordinary, &line, &error)) << error;
    EXPECT_FALSE(line.preload);
    EXPECT_EQ(line.gamePort, 47312);
    EXPECT_EQ(line.launcherPath, "/l/drux-launcher");
    EXPECT_EQ(line.airPath, "/a/KyrCLient.exe");
    EXPECT_EQ(line.arguments, "");

    // The preload payload is unquoted: several words, or none at all.
    const char* preload[] = {"drux-game", "game_client_preload", "a", "b c", "47311", "47312"};
    ASSERT_TRUE(DruxGame::parseCommandLine(6, preload, &line, &error)) << error;
    EXPECT_TRUE(line.preload);
    EXPECT_EQ(line.arguments, "a b c");
    EXPECT_EQ(line.airPort, 47311);
    EXPECT_EQ(line.gamePort, 47312);
    const char* empty[] = {"drux-game", "game_client_preload", "47311", "47312"};
    ASSERT_TRUE(DruxGame::parseCommandLine(4, empty, &line, &error)) << error;
    EXPECT_EQ(line.arguments, "");

    const char* badPort[] = {"drux-game", "0", "/l", "/a", "x"};
    EXPECT_FALSE(DruxGame::parseCommandLine(5, badPort, &line, &error));
    EXPECT_EQ(error, "the game port \"0\" is not a port (1..65535)");
}

TEST(GameCommandLine, PreloadTextsYieldTheCredentialsCommandLine) {
    DruxGame::PreloadMessage message;
    std::string error;
    const std::string credentials =
        "<KyrPreloadMessageToGameStart>{\"messageType\":\"UpdateGameWithCredentials\",\"commandLine\":"
        "\"|47312| |C:\\l\\launcher.exe| |/a/KyrCLient.exe| |user=x| |y|\"}<KyrPreloadMessageToGameEnd>";
    ASSERT_TRUE(DruxGame::parsePreloadMessage(credentials, &message, &error)) << error;
    EXPECT_EQ(message.messageType, "UpdateGameWithCredentials");
    ASSERT_TRUE(message.hasCommandLine);
    EXPECT_EQ(message.commandLine.gamePort, 47312);
    EXPECT_EQ(message.commandLine.launcherPath, "C:\\l\\launcher.exe");
    EXPECT_EQ(message.commandLine.airPath, "/a/KyrCLient.exe");
    EXPECT_EQ(message.commandLine.arguments, "user=x| |y");  // the last field takes the rest

    ASSERT_TRUE(DruxGame::parsePreloadMessage(
        "<KyrPreloadMessageToGameStart>{\"messageType\":\"PlayPreloadedGame\"}<KyrPreloadMessageToGameEnd>",
        &message, &error));
    EXPECT_EQ(message.messageType, "PlayPreloadedGame");
    EXPECT_FALSE(message.hasCommandLine);

    EXPECT_FALSE(DruxGame::parsePreloadMessage("{\"messageType\":\"PlayPreloadedGame\"}", &message, &error));
    EXPECT_FALSE(DruxGame::parsePreloadMessage(
        "<KyrPreloadMessageToGameStart>{\"messageType\":\"UpdateGameWithCredentials\",\"commandLine\":\"|1| |x|\"}"
        "<KyrPreloadMessageToGameEnd>",
        &message, &error));
    EXPECT_EQ(error, "the credentials' command line has fewer than four |fields|");
}

}  // namespace
