#include "message_names.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "Vantrel.h"

namespace DruxApps {
namespace {

constexpr const char kPrefix[] = "VANTRELMESSAGETYPE_";
constexpr int32_t kLastRealType = VANTRELMESSAGETYPE_INVALID - 1;
constexpr size_t kShownPayload = 300;

std::string upper(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string fullName(int32_t type) {
    char buffer[320] = {};
    Vantrel_MessageTypeToString(type, buffer, sizeof buffer);
    return buffer;
}

}  // namespace

std::string messageTypeName(int32_t type) {
    std::string name = fullName(type);
    if (name.rfind(kPrefix, 0) == 0) name.erase(0, sizeof kPrefix - 1);
    if (type < 0 || type > kLastRealType) name += "(" + std::to_string(type) + ")";
    return name;
}

std::string errorTypeName(int32_t type) {
    char buffer[320] = {};
    if (Vantrel_ErrorToString(type, buffer, sizeof buffer) != 1 || buffer[0] == '\0')
        return "error type " + std::to_string(type);
    return buffer;
}

bool parseMessageType(const std::string& text, int32_t* type) {
    if (text.empty()) return false;
    if (std::isdigit(static_cast<unsigned char>(text[0]))) {
        char* end = nullptr;
        long value = std::strtol(text.c_str(), &end, 10);
        if (*end != '\0' || value < 0 || value > kLastRealType) return false;
        *type = static_cast<int32_t>(value);
        return true;
    }
    const std::string wanted = upper(text);
    for (int32_t candidate = 0; candidate <= kLastRealType; ++candidate) {
        const std::string name = fullName(candidate);
        if (wanted == name || kPrefix + wanted == name || kPrefix + std::string("GAMECLIENT_") + wanted == name) {
            *type = candidate;
            return true;
        }
    }
    return false;
}

std::string describeMessage(int32_t type, const char* payload) {
    std::string text = messageTypeName(type);
    if (payload == nullptr) return text;
    std::string shown(payload, strnlen(payload, kShownPayload));
    text += " \"" + shown + (std::strlen(payload) > kShownPayload ? "...\"" : "\"");
    return text;
}

}  // namespace DruxApps
