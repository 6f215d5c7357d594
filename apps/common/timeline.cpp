#include "timeline.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <vector>

#include "system.h"

namespace DruxApps {
namespace {

std::mutex g_lock;
std::string g_who = "?";
void* g_file = nullptr;

std::string flatten(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string clockText(int64_t ms) {
    time_t seconds = static_cast<time_t>(ms / 1000);
    const std::tm local = localTime(seconds);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms % 1000));
    return buffer;
}

void write(FILE* stream, const std::string& text, bool toFile = true) {
    const int64_t now = wallClockMs();
    const std::string flat = flatten(text);
    std::lock_guard<std::mutex> guard(g_lock);
    std::fprintf(stream, "[%s] %s: %s\n", clockText(now).c_str(), g_who.c_str(), flat.c_str());
    std::fflush(stream);
    if (toFile && g_file != nullptr) appendToFile(g_file, std::to_string(now) + "\t" + g_who + "\t" + flat + "\n");
}

}  // namespace

int64_t wallClockMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void Timeline::open(const std::string& who) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_who = who;
    const char* path = std::getenv("DRUX_TIMELINE");
    if (path != nullptr && *path != '\0' && g_file == nullptr) g_file = openAppendFile(path);
}

void Timeline::close() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_file != nullptr) closeAppendFile(g_file);
    g_file = nullptr;
}

void Timeline::note(const std::string& text) { write(stdout, text); }

void Timeline::notef(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> buffer(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    if (length > 0) std::vsnprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    write(stdout, buffer.data());
}

void Timeline::error(const std::string& text) { write(stderr, text); }

void Timeline::local(const std::string& text) { write(stdout, text, false); }

}  // namespace DruxApps
