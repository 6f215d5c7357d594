// How the stand-ins read the texts they are given: the AIR client's scripts
// and the game's preload texts. (The programs' command lines are read in the
// whole runs of programs_test.py.)
#include <gtest/gtest.h>

#include <sstream>

#include "command_line.h"
#include "message_names.h"
#include "script.h"

namespace {

using DruxAir::Action;

// One "<line>: <what the command does>" per command of the script, or "refused: <reason>".
std::string readScript(const std::string& script) {
    std::vector<DruxAir::Command> commands;
    std::string error;
    if (!DruxAir::parseScript(script, false, &commands, &error)) return "refused: " + error;
    std::ostringstream out;
    for (const DruxAir::Command& c : commands) {
        out << c.line << ": ";
        if (c.action == Action::Send)
            out << DruxApps::describeMessage(c.type, c.hasPayload ? c.payload.c_str() : nullptr);
        if (c.action == Action::Wait)
            out << "wait " << DruxApps::messageTypeName(c.type) << " " << c.seconds << " s: " << c.expectedText;
        if (c.action == Action::Sleep) out << "sleep " << c.seconds << " s";
        if (c.action == Action::Close) out << "close";
        out << "; ";
    }
    return out.str();
}

TEST(AirScript, EachLineBecomesItsCommandAndMalformedLinesAreRefusedWithTheirNumber) {
    const std::pair<const char*, const char*> cases[] = {
        {"create game", "1: GAMECLIENT_CREATE; "},
        {"create game  -a  b ", "1: GAMECLIENT_CREATE \"-a  b\"; "},
        {"create version 1.2 x y", "1: GAMECLIENT_CREATE_VERSION \"1.2 x y\"; "},
        {"preload\ncredentials u=1 p=2\nplay",
         "1: GAMECLIENT_CREATE_CLIENT_AND_PRELOAD; 2: GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS \"u=1 p=2\"; "
         "3: GAMECLIENT_PLAY_PRELOADED_GAME; "},
        {"# a note\n\nchat hi; there", "3: CHATMESSAGE_TO_GAME \"hi; there\"; "},
        {"enumerate latest\nenumerate uninstallable",
         "1: GAMECLIENT_ENUMERATE_LATEST_VERSIONS \"all\"; 2: GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS; "},
        {"install progress\ninstall 2.0\nuninstall cancel\npreview 1.0",
         "1: GAMECLIENT_INSTALL_PROGRESS; 2: GAMECLIENT_INSTALL_VERSION \"2.0\"; 3: GAMECLIENT_CANCEL_UNINSTALL; "
         "4: GAMECLIENT_INSTALL_PREVIEW \"1.0\"; "},
        {"kill game\nsend 20 replay\nsend vantrelmessagetype_launcherclient",
         "1: KILL_GAMECLIENT_PROCESS; 2: PLAY_REPLAY \"replay\"; 3: LAUNCHERCLIENT; "},
        // "GAMECLIENT_" may be left out; a text may follow the type without a time-out.
        {"wait CHATMESSAGE_FROM_GAME 2.5 echo: a b\nwait LAUNCHED\nwait 27 [\"1.0\"]\nsleep 0.5\nclose",
         "1: wait CHATMESSAGE_FROM_GAME 2.5 s: echo: a b; 2: wait GAMECLIENT_LAUNCHED 60 s: ; "
         "3: wait GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS 60 s: [\"1.0\"]; 4: sleep 0.5 s; 5: close; "},
        {"create game\n\n# fine\nfly away", "refused: line 4: unknown command \"fly\" in \"fly away\""},
        {"wait NOT_A_TYPE", "refused: line 1: unknown message type \"NOT_A_TYPE\" in \"wait NOT_A_TYPE\""},
        {"wait 38", "refused: line 1: unknown message type \"38\" in \"wait 38\""},
        {"wait LAUNCHED 0", "refused: line 1: the time-out of \"wait\" must be above 0 seconds in \"wait LAUNCHED 0\""},
        {"sleep soon", "refused: line 1: \"sleep\" needs a number of seconds in \"sleep soon\""},
        {"chat", "refused: line 1: \"chat\" needs a text in \"chat\""},
        {"create version", "refused: line 1: \"create version\" needs a version in \"create version\""},
        {"play now", "refused: line 1: \"play\" takes no further text (found \"now\") in \"play now\""},
        {"close\nchat late", "refused: line 2: nothing may follow \"close\""},
    };
    for (const auto& [script, expected] : cases) EXPECT_EQ(readScript(script), expected) << script;
}

TEST(GamePreload, TheCredentialsTextYieldsItsCommandLineAndBadTextsAreRefused) {
    const auto read = [](const std::string& text) {
        DruxGame::PreloadMessage m;
        std::string error;
        if (!DruxGame::parsePreloadMessage(text, &m, &error)) return "refused: " + error;
        const DruxGame::CommandLine& line = m.commandLine;
        return m.messageType + (m.hasCommandLine ? " " + std::to_string(line.gamePort) + " " + line.launcherPath + " " +
                                                       line.airPath + " [" + line.arguments + "]"
                                                 : "");
    };
    const std::string start = "<KyrPreloadMessageToGameStart>{\"messageType\":", end = "}<KyrPreloadMessageToGameEnd>";
    const std::string credentials = start + "\"UpdateGameWithCredentials\",\"commandLine\":";
    // The last field takes the rest, bars and all.
    EXPECT_EQ(read(credentials + "\"|47312| |C:\\l\\launcher.exe| |/a/air| |u=x| |y|\"" + end),
              "UpdateGameWithCredentials 47312 C:\\l\\launcher.exe /a/air [u=x| |y]");
    EXPECT_EQ(read(start + "\"PlayPreloadedGame\"" + end), "PlayPreloadedGame");
    EXPECT_EQ(read("{\"messageType\":\"PlayPreloadedGame\"}"),
              "refused: not a preload message (no start and end tags)");
    EXPECT_EQ(read(credentials + "\"|1| |x|\"" + end),
              "refused: the credentials' command line has fewer than four |fields|");
    EXPECT_EQ(read(credentials + "\"|0| |l| |a| |x|\"" + end),
              "refused: the credentials' game port \"0\" is not a port (1..65535)");
}

}  // namespace
