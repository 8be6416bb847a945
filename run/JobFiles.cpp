#include "JobFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "file_replace.h"
#include "message.h"
#include "state.h"

namespace quarel {

namespace {

// Shortest input path: one character of name, a dot and a three-letter
// extension, so that the derived names (last three characters replaced)
// and the result names (last four characters replaced) keep a name.
constexpr int kMinPathLength = 5;

// The path with its last three characters replaced by `ext`.
std::string derivedName(const std::string& path, const char* ext) {
    return path.substr(0, path.size() - 3) + ext;
}

void copyName(char* field, int fieldSize, const std::string& name) {
    std::memset(field, 0, static_cast<size_t>(fieldSize));
    std::memcpy(field, name.data(), std::min<size_t>(name.size(), static_cast<size_t>(fieldSize)));
}

std::string fromInt(long v) {
    return std::to_string(v);
}

// Fixed notation with `decimals` digits after the point ("%.*f").
std::string fromDouble(double v, int decimals) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

}  // namespace

// As FXString::replace(pos, n, text, n): a position past the end is taken
// as the end, and characters missing at the end are appended, so a long
// number lengthens the line.
void placeAt(std::string& line, int pos, const std::string& text) {
    const size_t len = line.size();
    size_t p = pos < 0 ? 0 : static_cast<size_t>(pos);
    if (p > len) p = len;
    const size_t m = std::min(text.size(), len - p);
    line.replace(p, m, text);
}

JobFiles JobFiles::forInput(const std::string& path) {
    const int len = static_cast<int>(path.size());
    if (len > kNameField) {
        throw FileError("The path of the input file \"" + path + "\" is longer than " +
                        std::to_string(kNameField) +
                        " characters; the names of the job files cannot hold it.");
    }
    if (len < kMinPathLength) {
        throw FileError("The path of the input file \"" + path +
                        "\" is too short: it needs a name and a three-letter extension.");
    }
    const std::string ptl = derivedName(path, "ptl");
    const std::string itr = derivedName(path, "itr");
    const std::string cp = derivedName(path, "cp");
    if (ptl == path || itr == path || cp == path) {
        throw FileError("The input file \"" + path +
                        "\" has the name of a file the calculation writes; rename it (for "
                        "example to .dat).");
    }
    JobFiles f;
    FileNames& n = f.names;
    n.nameLen = len;
    n.ptlLen = len;
    n.itrLen = len;
    n.cpLen = len - 1;
    copyName(n.inputName, sizeof n.inputName, path);
    copyName(n.ptlName, sizeof n.ptlName, ptl);
    copyName(n.itrName, sizeof n.itrName, itr);
    copyName(n.cpName, sizeof n.cpName, cp);
    f.inputPath = path;
    f.itrPath = itr;
    f.pathLength = len;
    return f;
}

std::string JobFiles::resultName(int counter) const {
    return inputPath.substr(0, inputPath.size() - 4) + "_" + std::to_string(counter) + ".out";
}

std::string ResultFileText(const FileNames& names, const GridLevel& level, const JobParameters& job,
                           const Results& results, const FreeStream& flow, bool design) {
    const int k = level.k, NX = level.NX;
    std::string out;
    out += nameOf(names.title, kNameField) + "\n";
    if (job.entropy.enabled)
        out += "    model: non-isentropic potential (shock entropy carried downstream)\n";
    out += "    npa       nbh       nco       kgr   \n";
    std::string line(68, ' ');
    placeAt(line, 5, fromInt(level.npa));
    placeAt(line, 15, fromInt(k));
    placeAt(line, 25, fromInt(level.NY));
    placeAt(line, 35, fromInt(job.Kgrid));
    out += line + "\n\n";
    out += "    Mach     Alpha     Swept      Cy        Cx    \n";
    line.assign(68, ' ');
    placeAt(line, 3, fromDouble(job.mach, 5));
    placeAt(line, 13, fromDouble(job.alpha, 5));
    placeAt(line, 23, fromDouble(job.swept, 5));
    placeAt(line, 33, fromDouble(results.clift, 5));
    placeAt(line, 43, fromDouble(results.cdrag, 5));
    out += line + "\n\n";
    if (design) {
        out += "   i        x              y              Cp             M          Cpd\n";
    } else {
        out += "   i        x              y              Cp             M\n";
    }
    for (int i = k; i <= NX - k - 1; ++i) {
        line.assign(73, ' ');
        placeAt(line, 3, fromInt(i - k + 1));
        placeAt(line, 7, fromDouble((xg(i, 1) + xg(i + 1, 1)) * 0.5, 10));
        // The ordinates were divided by cos(sweep): back in the user's frame.
        placeAt(line, 22, fromDouble((yg(i, 1) + yg(i + 1, 1)) * 0.5 * flow.ordinateDivisor(), 10));
        placeAt(line, 37, fromDouble(cpf(i), 10));
        placeAt(line, 52, fromDouble(amach(i, 1), 10));
        if (design) placeAt(line, 67, fromDouble(cps(i), 10));
        out += line + "\n";
    }
    return out;
}

void JobLock::acquire(const std::string& path, bool wait, const std::function<void()>& waiting) {
    release();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    // A file that cannot be opened is reported by the reader.
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        if (wait && err == EWOULDBLOCK) {
            if (waiting) waiting();
            int r;
            while ((r = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
            }
            if (r == 0) {
                fd_ = fd;
                return;
            }
        }
        ::close(fd);
        if (err == EWOULDBLOCK) {
            throw FileError("The job \"" + path +
                            "\" is being run by another process of this program; two runs of "
                            "one job would overwrite each other's restart, Cp and log files. "
                            "Wait until it has ended, or copy the input file under another name.");
        }
        throw FileError("Cannot lock \"" + path + "\": " + std::strerror(err));
    }
    fd_ = fd;
}

void JobLock::release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void WriteTextFile(const std::string& path, const std::string& text, const std::string& what) {
    ReplaceFile(path, text, "the " + what);
}

bool IterationLog::write(const std::string& path) const {
    if (path.empty()) return false;
    std::string text = "<ITR><    COR    >< I >< J ><    RES    >< I >< J ><   CL   ><  CD(W) >\n";
    for (const std::string& line : lines_) text += line + '\n';
    try {
        ReplaceFile(path, text, "the iteration log");
    } catch (const FileError&) {
        return false;
    }
    return true;
}

}  // namespace quarel
