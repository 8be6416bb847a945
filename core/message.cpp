#include "message.h"

#include <cstdio>

namespace quarel {
namespace msg {

namespace {

// The context of the program, and the one in use (installed by a Scope).
// The solver's routines keep the argument lists their callers rely on, so
// they reach the channel through this one pointer.
Context*& inUse() {
    static Context program;
    static Context* active = &program;
    return active;
}

}  // namespace

Context& Context::current() {
    return *inUse();
}

void Context::print(const std::string& text, bool toSink) {
    if (holding_) {
        held_.push_back(text);
    } else if (outer_ != nullptr) {
        outer_->print(text, toSink);
    } else {
        if (!quiet_) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
        if (toSink && sink_) sink_(Kind::Console, text);
    }
}

void Context::notify(Kind kind, const std::string& text) {
    if (outer_ != nullptr) {
        outer_->notify(kind, text);
    } else if (sink_) {
        sink_(kind, text);
    }
}

void Context::writeHeld() {
    std::vector<std::string> lines;
    lines.swap(held_);
    for (const std::string& line : lines) print(line, true);
}

void Context::console(const std::string& line) {
    print(line, true);
}

// The console text of a warning is held like a console line; the sink
// receives it as a warning at once.
void Context::warning(const std::string& text) {
    print(text, false);
    warnings_.push_back(text);
    notify(Kind::Warning, text);
}

void Context::error(const std::string& text) {
    if (outer_ != nullptr) {
        outer_->error(text);
        return;
    }
    if (!quiet_) {
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    if (sink_) sink_(Kind::Error, text);
}

std::vector<std::string> Context::takeWarnings() {
    std::vector<std::string> out;
    out.swap(warnings_);
    return out;
}

Scope::Scope(Context& context) {
    Context*& active = inUse();
    if (active == &context) return;
    installed_ = &context;
    previous_ = active;
    context.outer_ = active;
    active = &context;
}

Scope::~Scope() {
    if (installed_ == nullptr) return;
    installed_->outer_ = nullptr;
    inUse() = previous_;
}

ConsoleHold::ConsoleHold(bool active)
    : context_(Context::current()), active_(active && !context_.holding_) {
    if (active_) context_.holding_ = true;
}

ConsoleHold::~ConsoleHold() {
    release();
    if (active_) context_.holding_ = false;
}

void ConsoleHold::release() {
    if (!active_) return;
    context_.holding_ = false;
    context_.writeHeld();
    context_.holding_ = true;
}

void ConsoleHold::drop() {
    if (active_) context_.held_.clear();
}

void console(const std::string& line) {
    Context::current().console(line);
}

void warning(const std::string& text) {
    Context::current().warning(text);
}

void error(const std::string& text) {
    Context::current().error(text);
}

std::vector<std::string> takeWarnings() {
    return Context::current().takeWarnings();
}

void setSink(Sink sink) {
    Context::current().setSink(std::move(sink));
}

void setQuiet(bool quiet) {
    Context::current().setQuiet(quiet);
}

}  // namespace msg
}  // namespace quarel
