// The launcher's end of the game connection as the game tests play it, and a
// record of the game's callbacks.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "VantrelGameController.h"
#include "VantrelServer.h"
#include "game/game_controller.h"
#include "messaging/messaging_test_support.h"
#include "messaging/server_internal.h"

namespace GameTest {

using MessagingTest::Recorder;

struct Callbacks {
    std::atomic<int> exits{0};
    std::atomic<void*> exitContext{nullptr};
    std::mutex mutex;
    std::vector<std::pair<void*, std::optional<std::string>>> chats;

    static Callbacks& instance() {
        static Callbacks callbacks;
        return callbacks;
    }
    static void onExit(void* context) {
        instance().exitContext = context;
        ++instance().exits;
    }
    static void onChat(void* context, const char* text) {
        std::lock_guard<std::mutex> lock(instance().mutex);
        instance().chats.emplace_back(context, text ? std::optional<std::string>(text) : std::nullopt);
    }
};

// The launcher's game server: a VantrelServer on a free port.
struct LauncherServer {
    VantrelServerHandle server = nullptr;
    Recorder recorder;
    LauncherServer() {
        VantrelServer_Create(&server);
        VantrelServer_SetMessageArrivedCallback(server, &recorder, &Recorder::callback);
        EXPECT_EQ(1, VantrelServer_Start(server, 0));
    }
    ~LauncherServer() { VantrelServer_Delete(&server); }
    int32_t port() const { return Drux::socketLocalPort(server->listenSocket); }
    bool hasClient() const {
        return DruxTest::waitUntil([&] { return server->clients.load() != nullptr; });
    }
    // What arrived of one kind: replies, or everything else but heartbeats.
    std::vector<Recorder::Message> received(bool replies = false) const {
        std::vector<Recorder::Message> result;
        for (const auto& message : recorder.messages())
            if (replies ? message.type == VANTRELMESSAGETYPE_REPLY
                        : message.type != VANTRELMESSAGETYPE_REPLY && message.type != VANTRELMESSAGETYPE_HEARTBEAT)
                result.push_back(message);
        return result;
    }
};

// A launcher end driven byte by byte: it sends nothing by itself.
struct RawLauncher {
    Drux::SocketHandle listening = Drux::socketCreate();
    Drux::SocketHandle connection = Drux::kInvalidSocket;
    RawLauncher() {
        EXPECT_TRUE(Drux::socketBind(listening, 0));
        EXPECT_TRUE(Drux::socketListen(listening));
    }
    ~RawLauncher() {
        if (connection != Drux::kInvalidSocket) Drux::socketClose(connection);
        Drux::socketClose(listening);
    }
    int32_t port() const { return Drux::socketLocalPort(listening); }
    void accept() { ASSERT_TRUE(Drux::socketAccept(listening, &connection)); }
    void send(const std::string& bytes) { MessagingTest::sendRaw(connection, bytes); }
    std::string read(size_t count) { return MessagingTest::readBytes(connection, count); }
};

class Fixture : public DruxTest::LoggedTest {
protected:
    void SetUp() override {
        LoggedTest::SetUp();
        callbacks.exits = 0;
        callbacks.exitContext = nullptr;
        callbacks.chats.clear();
    }
    void TearDown() override {
        if (CurrentGameController() != nullptr) VantrelGameController_Remove();
        LoggedTest::TearDown();
    }
    Callbacks& callbacks = Callbacks::instance();
};

}  // namespace GameTest
