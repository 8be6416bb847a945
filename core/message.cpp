#include "message.h"

#include <cstdio>

namespace quarel {
namespace msg {
namespace {
std::vector<std::string> g_warnings;
Sink g_sink;
bool g_quiet = false;
bool g_holding = false;
std::vector<std::string> g_held;

void writeConsole(const std::string& line) {
    if (!g_quiet) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    if (g_sink) g_sink(Kind::Console, line);
}
}  // namespace

ConsoleHold::ConsoleHold(bool active) : active_(active && !g_holding) {
    if (active_) g_holding = true;
}

ConsoleHold::~ConsoleHold() {
    release();
    if (active_) g_holding = false;
}

void ConsoleHold::release() {
    if (!active_) return;
    g_holding = false;
    std::vector<std::string> lines;
    lines.swap(g_held);
    for (const std::string& line : lines) writeConsole(line);
    g_holding = true;
}

void ConsoleHold::drop() {
    if (active_) g_held.clear();
}

void console(const std::string& line) {
    if (g_holding) {
        g_held.push_back(line);
        return;
    }
    writeConsole(line);
}

void warning(const std::string& text) {
    if (g_holding) {
        g_held.push_back(text);
    } else if (!g_quiet) {
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

void setSink(Sink sink) {
    g_sink = std::move(sink);
}

void setQuiet(bool quiet) {
    g_quiet = quiet;
}

}  // namespace msg
}  // namespace quarel
