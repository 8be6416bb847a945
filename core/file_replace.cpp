#include "file_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "message.h"

namespace quarel {

namespace {

FileError writeError(const std::string& what, const std::string& path, const std::string& why,
                     int err) {
    return FileError("Cannot write " + what + " \"" + path + "\": " + why +
                     (err ? std::string(": ") + std::strerror(err) : std::string()));
}

}  // namespace

PendingFile WriteBeside(const std::string& path, const std::string& content,
                        const std::string& what, bool durable) {
    if (path.empty()) throw FileError("Cannot write " + what + ": it has no file name");
    // The process id and a random tag: two runs, or two writes of one run,
    // never share a temporary file; O_EXCL makes sure of it.
    std::random_device device;
    int fd = -1;
    std::string temp;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char tag[48];
        std::snprintf(tag, sizeof tag, ".part%ld.%08x", static_cast<long>(getpid()),
                      static_cast<unsigned>(device()));
        temp = path + tag;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) throw writeError(what, path, "cannot create \"" + temp + "\"", errno);
    bool ok = true;
    int err = 0;
    for (size_t done = 0; ok && done < content.size();) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            err = errno;
        } else {
            done += static_cast<size_t>(n);
        }
    }
    if (ok && durable && ::fsync(fd) != 0) {
        ok = false;
        err = errno;
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        std::remove(temp.c_str());
        throw writeError(what, path, "the data could not be written", err);
    }
    return PendingFile{path, temp, what};
}

void Commit(const PendingFile& p) {
    if (std::rename(p.temp.c_str(), p.path.c_str()) != 0) {
        const int err = errno;
        std::remove(p.temp.c_str());
        throw writeError(p.what, p.path, "the new file could not replace the old one", err);
    }
}

void Discard(const PendingFile& p) {
    if (!p.temp.empty()) std::remove(p.temp.c_str());
}

void ReplaceFile(const std::string& path, const std::string& content, const std::string& what,
                 bool durable) {
    Commit(WriteBeside(path, content, what, durable));
}

}  // namespace quarel
