// Output files replaced whole: each is written completely to a temporary
// file beside it, with a name no other run uses, and then renamed over the
// old one.  A failed write, a kill at any moment or a second run writing
// the same file leaves either the old complete file or a new complete one,
// never an empty or mixed one.
#pragma once

#include <string>

namespace quarel {

// A file written beside its final place, not yet renamed over it.
struct PendingFile {
    std::string path, temp, what;
};

// Writes `content` to a fresh temporary file beside `path`, and with
// `durable` flushes it to disk (so that it also survives a crash of the
// system).  `what` names the file in messages ("the restart file").
// Throws FileError (nothing left behind).
PendingFile WriteBeside(const std::string& path, const std::string& content,
                        const std::string& what, bool durable = true);

// Renames the temporary file over its final place.  Throws FileError (the
// temporary file removed, the old file unchanged).
void Commit(const PendingFile& pending);

// Removes the temporary file of a write that is abandoned.
void Discard(const PendingFile& pending);

// WriteBeside and Commit in one.
void ReplaceFile(const std::string& path, const std::string& content, const std::string& what,
                 bool durable = true);

}  // namespace quarel
