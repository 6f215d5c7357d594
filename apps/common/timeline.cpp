#include "timeline.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <vector>

namespace DruxApps {
namespace {

std::mutex g_lock;
std::string g_who = "?";
int g_file = -1;

std::string flatten(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string clockText(int64_t ms) {
    time_t seconds = static_cast<time_t>(ms / 1000);
    struct tm local {};
    localtime_r(&seconds, &local);
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
    if (toFile && g_file >= 0) {
        const std::string line = std::to_string(now) + "\t" + g_who + "\t" + flat + "\n";
        // One write on an O_APPEND descriptor: lines of several processes never mix.
        if (::write(g_file, line.data(), line.size()) < 0) {
            // The timeline is a by-product; standard output already has the note.
        }
    }
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
    if (path != nullptr && *path != '\0' && g_file < 0)
        g_file = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void Timeline::close() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_file >= 0) ::close(g_file);
    g_file = -1;
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
