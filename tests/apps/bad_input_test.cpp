// Every program refuses bad input with a clear message and a non-zero exit.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "launcher_run.h"

namespace {

using DruxAppTest::LauncherRun;

std::string portText(int port) { return std::to_string(port); }

// Holds a loopback port so that nobody else can listen on it.
class HeldPort {
public:
    explicit HeldPort(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok_ = bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd_, 1) == 0;
    }
    ~HeldPort() { close(fd_); }
    bool ok() const { return ok_; }

private:
    int fd_ = -1;
    bool ok_ = false;
};

TEST(BadInput, LauncherRefusesToStartAndSaysWhy) {
    LauncherRun run;
    std::string out;
    EXPECT_EQ(run.runProgram("drux-launcher", {"--air-port", "70000"}, &out), 1);
    EXPECT_NE(out.find("\"70000\" is not a port"), std::string::npos) << out;
    EXPECT_EQ(run.runProgram("drux-launcher", {"--frobnicate"}, &out), 1);
    EXPECT_NE(out.find("unknown option \"--frobnicate\""), std::string::npos) << out;

    const std::vector<int>& p = run.ports();
    const std::vector<std::string> ports{"--launcher-port", portText(p[0]), "--air-port", portText(p[1]),
                                         "--game-port", portText(p[2])};
    {
        HeldPort held(p[0]);
        ASSERT_TRUE(held.ok());
        EXPECT_EQ(run.runProgram("drux-launcher", ports, &out), 1);
        EXPECT_NE(out.find("cannot listen on the launcher port " + portText(p[0])), std::string::npos) << out;
    }
    std::vector<std::string> missingGame = ports;
    missingGame.insert(missingGame.end(), {"--game-path", run.file("no-such-game"), "--verify"});
    EXPECT_EQ(run.runProgram("drux-launcher", missingGame, &out), 1);
    EXPECT_NE(out.find("VANTRELERRORTYPE_GENERIC: One or more of the required applications could not be found."),
              std::string::npos)
        << out;
    std::vector<std::string> missingAir = ports;
    missingAir.insert(missingAir.end(), {"--air-path", run.file("no-such-air-client")});
    EXPECT_EQ(run.runProgram("drux-launcher", missingAir, &out), 1);
    EXPECT_NE(out.find("VANTRELERRORTYPE_AIRPROCESSSTART: Unable to start air."), std::string::npos) << out;
    EXPECT_NE(out.find("the run could not start"), std::string::npos) << out;
    EXPECT_FALSE(run.anyProgramRunning());
}

TEST(BadInput, AirClientRejectsBadScriptsAndUnreachablePorts) {
    LauncherRun run;
    std::string out;
    const std::string closedPort = portText(run.ports()[1]);
    run.setScript("create game\nfly away\n");
    EXPECT_EQ(run.runProgram("KyrCLient.exe", {"--", closedPort}, &out), 1);
    EXPECT_NE(out.find("line 2: unknown command \"fly\""), std::string::npos) << out;
    EXPECT_EQ(run.runProgram("KyrCLient.exe", {"--", closedPort, "--script", run.file("missing.air")}, &out), 1);
    EXPECT_NE(out.find("cannot read script file"), std::string::npos) << out;
    EXPECT_EQ(run.runProgram("KyrCLient.exe", {"-runtime", ".\\", "-nodebug"}, &out), 1);
    EXPECT_NE(out.find("missing \"-- <port>\""), std::string::npos) << out;
    run.setScript("create game\n");
    EXPECT_EQ(run.runProgram("KyrCLient.exe", {"--", closedPort}, &out), 2);
    EXPECT_NE(out.find("cannot connect to 127.0.0.1:" + closedPort), std::string::npos) << out;
}

TEST(BadInput, GameRejectsBadCommandLinesAndUnreachablePorts) {
    LauncherRun run;
    std::string out;
    EXPECT_EQ(run.runProgram("drux-game", {"12", "only-two"}, &out), 1);
    EXPECT_NE(out.find("got 2 arguments"), std::string::npos) << out;
    EXPECT_EQ(run.runProgram("drux-game", {"game_client_preload", "x", "99999", "1"}, &out), 1);
    EXPECT_NE(out.find("the AIR port \"99999\" is not a port"), std::string::npos) << out;
    const std::string closedPort = portText(run.ports()[2]);
    EXPECT_EQ(run.runProgram("drux-game", {closedPort, "/l", "/a", ""}, &out), 2);
    EXPECT_NE(out.find("cannot connect to the launcher's game port " + closedPort), std::string::npos) << out;
}

}  // namespace
