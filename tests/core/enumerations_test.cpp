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

// Calls a name export into a buffer with a guard byte behind the given size.
std::pair<int32_t, std::string> name(NameFunction function, int32_t value, uint32_t size = 320) {
    char buffer[400];
    std::memset(buffer, '#', sizeof buffer);
    const int32_t result = function(value, buffer, size);
    EXPECT_EQ(buffer[size], '#') << "wrote past the buffer's end";
    return {result, std::string(buffer)};
}

TEST(EnumerationNames, MessageTypesOutsideTheRealTypesNameInvalid) {
    for (int32_t value : {38, 1000, -1, INT32_MIN}) {
        auto [result, text] = name(Vantrel_MessageTypeToString, value);
        EXPECT_EQ(result, 1) << value;
        EXPECT_EQ(text, "VANTRELMESSAGETYPE_INVALID") << value;
    }
}

TEST(EnumerationNames, MessageTypesFollowTheirNumericOrder) {
    EXPECT_EQ(name(Vantrel_MessageTypeToString, 0).second, "VANTRELMESSAGETYPE_GAMECLIENT_CREATE");
    EXPECT_EQ(name(Vantrel_MessageTypeToString, 20).second, "VANTRELMESSAGETYPE_PLAY_REPLAY");
    EXPECT_EQ(name(Vantrel_MessageTypeToString, 27).second,
              "VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_INSTALLED_VERSIONS");
    EXPECT_EQ(name(Vantrel_MessageTypeToString, 35).second,
              "VANTRELMESSAGETYPE_GAMECLIENT_ENUMERATE_UNINSTALLABLE_VERSIONS");
    EXPECT_EQ(name(Vantrel_MessageTypeToString, 37).second,
              "VANTRELMESSAGETYPE_GAMECLIENT_INSTALLED_GAME_VERSION_SIZE");
}

TEST(EnumerationNames, ErrorAndProcessTypesReportValuesOutsideTheirRange) {
    EXPECT_EQ(name(Vantrel_ErrorToString, 8), std::make_pair(1, std::string("VANTRELERRORTYPE_INVALID")));
    EXPECT_EQ(name(Vantrel_ErrorToString, 7), std::make_pair(1, std::string("VANTRELERRORTYPE_GENERIC")));
    EXPECT_EQ(name(Vantrel_ErrorToString, 9), std::make_pair(0, std::string()));
    EXPECT_EQ(name(Vantrel_ErrorToString, -1), std::make_pair(0, std::string()));
    EXPECT_EQ(name(Vantrel_ProcessTypeToString, 0), std::make_pair(1, std::string("VANTRELPROCESSTYPE_AIR")));
    EXPECT_EQ(name(Vantrel_ProcessTypeToString, 3), std::make_pair(0, std::string()));
    EXPECT_EQ(name(Vantrel_ProcessTypeToString, -1), std::make_pair(0, std::string()));
}

TEST(EnumerationNames, LongNamesAreCutToTheBuffer) {
    EXPECT_EQ(name(Vantrel_ProcessTypeToString, 2, 10), std::make_pair(1, std::string("VANTRELPR")));
    const std::string longest = "VANTRELMESSAGETYPE_GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS";
    EXPECT_EQ(name(Vantrel_MessageTypeToString, 29, 69), std::make_pair(1, longest));
    EXPECT_EQ(name(Vantrel_MessageTypeToString, 29, 68), std::make_pair(1, longest.substr(0, 67)));
    EXPECT_EQ(name(Vantrel_ErrorToString, 0, 1), std::make_pair(1, std::string()));
}

TEST(EnumerationNames, MissingBufferIsRefusedWithoutACrash) {
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
