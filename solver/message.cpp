#include "message.h"

#include <cstdio>

namespace quarel {
namespace msg {
namespace {
std::vector<std::string> g_warnings;
Sink g_sink;
bool g_quiet = false;
}  // namespace

void console(const std::string& line) {
    if (!g_quiet) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (g_sink) g_sink(Kind::Console, line);
}

void warning(const std::string& text) {
    if (!g_quiet) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    g_warnings.push_back(text);
    if (g_sink) g_sink(Kind::Warning, text);
}

void error(const std::string& text) {
    if (!g_quiet) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    if (g_sink) g_sink(Kind::Error, text);
}

std::vector<std::string> takeWarnings() {
    std::vector<std::string> out;
    out.swap(g_warnings);
    return out;
}

void setSink(Sink sink) { g_sink = std::move(sink); }

void setQuiet(bool quiet) { g_quiet = quiet; }

}  // namespace msg
}  // namespace quarel
