#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Vantrel.h"
#include "VantrelServerController.h"

extern "C" {
int druxCHeaderSize(void);
int druxCPatchTableSize(void);
int druxCInvalidMessageType(void);
int druxCLogErrorLevel(void);
}

namespace {

using NameFunction = int32_t (*)(int32_t, char*, uint32_t);
const NameFunction kMessage = Vantrel_MessageTypeToString, kError = Vantrel_ErrorToString,
                   kProcess = Vantrel_ProcessTypeToString;

// Calls a name export into a buffer with a guard byte behind the given size.
std::string name(NameFunction function, int32_t value, uint32_t size = 320, int32_t result = 1) {
    char buffer[400];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(function(value, buffer, size), result) << value;
    EXPECT_EQ(buffer[size], '#') << "wrote past the buffer's end";
    return buffer;
}

TEST(EnumerationNames, ValuesAreNamedOutOfRangeIsReportedAndLongNamesAreCut) {
    EXPECT_EQ(name(kMessage, 0), "VANTRELMESSAGETYPE_GAMECLIENT_CREATE");
    EXPECT_EQ(name(kMessage, 20), "VANTRELMESSAGETYPE_PLAY_REPLAY");
    EXPECT_EQ(name(kMessage, 35), "VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS");
    EXPECT_EQ(name(kMessage, 37), "VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE");
    for (int32_t value : {38, 1000, -1, INT32_MIN}) EXPECT_EQ(name(kMessage, value), "VANTRELMESSAGETYPE_INVALID");
    EXPECT_EQ(name(kError, 8), "VANTRELERRORTYPE_INVALID");
    EXPECT_EQ(name(kProcess, 1), "VANTRELPROCESSTYPE_GAME");
    for (int32_t value : {9, -1}) EXPECT_EQ(name(kError, value, 320, 0), "");
    for (int32_t value : {3, -1}) EXPECT_EQ(name(kProcess, value, 320, 0), "");

    const std::string longest = "VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS";
    EXPECT_EQ(name(kMessage, 29, 69), longest);
    EXPECT_EQ(name(kMessage, 29, 68), longest.substr(0, 67));
    EXPECT_EQ(name(kProcess, 2, 10), "VANTRELPR");
    EXPECT_EQ(name(kError, 0, 1), "");
    // A missing buffer is refused without a crash.
    EXPECT_EQ(Vantrel_MessageTypeToString(1, nullptr, 10), 0);
    char buffer[4] = "abc";
    EXPECT_EQ(Vantrel_ErrorToString(1, buffer, 0), 0);
    EXPECT_STREQ(buffer, "abc");
}

TEST(PublicHeaders, CompileAsCWithTheSameLayout) {
    EXPECT_EQ(druxCHeaderSize(), static_cast<int>(sizeof(VantrelMessageHeader)));
    EXPECT_EQ(druxCHeaderSize(), 16);
    EXPECT_EQ(druxCPatchTableSize(), static_cast<int>(sizeof(PatchFunctionTable)));
    EXPECT_EQ(druxCInvalidMessageType(), 38);
    EXPECT_EQ(druxCLogErrorLevel(), 2);
}

}  // namespace
