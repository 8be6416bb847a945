// The solver's one channel to the outside world.
//
// Console lines (iteration lines, grid sizes, interpolation faults,
// breakdown lines) go to standard output, exactly as formatted by the
// caller.  Warnings are console lines that a user must also see in a
// windowed program, where standard output is hidden: they are kept in a
// list that the run control empties and shows after a command.  A sink
// installed by the GUI (or a test) receives every line as well.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarel {

// A numerical breakdown of the solver (zero diagonal, non-finite
// potential).  Ends the calculation, never the program.
class SolverError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file that cannot be opened, read or written.  what() is a complete,
// user-readable sentence naming the file, the line (when there is one)
// and the cause.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parameters that the fixed-size arrays cannot hold, or that would make
// the grid or the solver undefined.  Raised before any array is touched.
class ParameterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace msg {

enum class Kind { Console, Warning, Error };

// Writes one console line (without its line feed) to standard output.
void console(const std::string& line);
// Writes a block of lines (separated by '\n') to standard output and
// records it as a warning for the user.
void warning(const std::string& text);
// Writes an error line to standard error (and the sink).
void error(const std::string& text);

// Warnings recorded since the last call; the list is emptied.
std::vector<std::string> takeWarnings();

// Optional receiver of every line; pass an empty function to remove it.
using Sink = std::function<void(Kind, const std::string&)>;
void setSink(Sink sink);

// Silences standard output and standard error (tests, benchmarks);
// warnings and the sink still work.
void setQuiet(bool quiet);

// The state of a message channel: the warnings recorded, the sink, the
// quiet switch and the lines held back.  The functions above act on the
// context in use: the one of the innermost live Scope, else the program's
// own.  A run owns a context of its own, so that its warnings are its own
// while other runs share the process.
class Context {
public:
    Context() = default;
    // A copy (of a run) takes the warnings, the sink and the quiet switch;
    // it is not in use and holds nothing.
    Context(const Context& other)
        : warnings_(other.warnings_), sink_(other.sink_), quiet_(other.quiet_) {}
    Context& operator=(const Context& other) {
        warnings_ = other.warnings_;
        sink_ = other.sink_;
        quiet_ = other.quiet_;
        return *this;
    }

    void console(const std::string& line);
    void warning(const std::string& text);
    void error(const std::string& text);
    std::vector<std::string> takeWarnings();
    void setSink(Sink sink) { sink_ = std::move(sink); }
    void setQuiet(bool quiet) { quiet_ = quiet; }

    // The context in use.
    static Context& current();

private:
    friend class Scope;
    friend class ConsoleHold;
    // Writes the console text of a line (held while holding) to standard
    // output unless quiet, and to the sink with `toSink`; in a context
    // installed inside another, the outer one takes it.
    void print(const std::string& text, bool toSink);
    // Hands a line to the sink (of the outermost context).
    void notify(Kind kind, const std::string& text);
    void writeHeld();

    Context* outer_ = nullptr;
    std::vector<std::string> warnings_;
    Sink sink_;
    bool quiet_ = false;
    bool holding_ = false;
    std::vector<std::string> held_;
};

// Makes `context` the context in use while it lives.  Its lines go out
// through the context that was in use before (with that one's quiet switch
// and sink); its warnings and held lines stay its own.  A context already
// in use stays as it is.
class Scope {
public:
    explicit Scope(Context& context);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    Context* installed_ = nullptr;
    Context* previous_ = nullptr;
};

// Holds back the console lines (and the console text of warnings) written
// to the context in use while it lives (for a trial that may be rejected,
// or output to be summarised): release() writes them, drop() forgets them;
// lines still held at the end of its life are written.  The warnings
// themselves are still recorded for takeWarnings().
class ConsoleHold {
public:
    explicit ConsoleHold(bool active);
    ~ConsoleHold();
    void release();
    void drop();
    ConsoleHold(const ConsoleHold&) = delete;
    ConsoleHold& operator=(const ConsoleHold&) = delete;

private:
    Context& context_;
    bool active_;
};

}  // namespace msg
}  // namespace quarel
