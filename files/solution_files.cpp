// Solution files of an analysis: the restart file with the potential of
// the whole grid, and the Cp file with the surface pressures and the
// flow results.
//
// Each file is first written completely to a temporary file beside it
// ("<name>.part") and then renamed over the old one, so a failed write
// (full disk, missing permission) leaves the files of the previous run
// intact.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "solution_files.h"
#include "fixedformat.h"
#include "message.h"

namespace quarel {
namespace {

void putLe32(std::string& out, uint32_t v) {
    for (int b = 0; b < 4; ++b) out += static_cast<char>((v >> (8 * b)) & 0xff);
}

// One record of the restart file: length 8, the double, length 8.
void putRecord(std::string& out, double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    putLe32(out, 8);
    for (int b = 0; b < 8; ++b) out += static_cast<char>((bits >> (8 * b)) & 0xff);
    putLe32(out, 8);
}

// A file written beside its final place, to be renamed over the old one
// once complete on disk.
struct Pending {
    std::string path, temp, kind;
};

FileError writeError(const Pending& p, const std::string& what, int err) {
    return FileError("Cannot write " + p.kind + " \"" + p.path + "\": " + what +
                     (err ? std::string(": ") + std::strerror(err) : std::string()));
}

Pending writeTemporary(const std::string& path, const std::string& kind,
                       const std::string& content) {
    Pending p{path, path + ".part", kind};
    if (path.empty()) throw FileError("Cannot write the " + kind + ": it has no file name");
    std::FILE* f = std::fopen(p.temp.c_str(), "wb");
    if (!f) throw writeError(p, "cannot create \"" + p.temp + "\"", errno);
    bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    ok = ok && std::fflush(f) == 0;
    ok = ok && fsync(fileno(f)) == 0;
    int err = ok ? 0 : errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        std::remove(p.temp.c_str());
        throw writeError(p, "the data could not be written", err);
    }
    return p;
}

void commit(const Pending& p) {
    if (std::rename(p.temp.c_str(), p.path.c_str()) != 0) {
        int err = errno;
        std::remove(p.temp.c_str());
        throw writeError(p, "the new file could not replace the old one", err);
    }
}

}  // namespace

void SaveSolution(const FileNames& names, const int& NY, const int& NX, const int& k,
                  const int& gridStep, const int& iterCount, const int& iterTotal,
                  const double& mach, const double& alpha, const double& sweepRad,
                  const double& clift, const double& cdrag) {
    // The potential block covers gridStep*NX+1 columns and gridStep*(NY-1)+1
    // rows of the saved fine potential.
    const long cols = static_cast<long>(gridStep) * NX + 1;
    const long rows = static_cast<long>(gridStep) * (NY - 1) + 1;
    if (NX < 0 || NY < 1 || k < 0 || 2 * k > NX || gridStep < 1 || cols > kMaxNX + 1 ||
        rows > kMaxNY)
        throw ParameterError("Solution files: grid " + std::to_string(NX) + " x " +
                             std::to_string(NY) + " (step " + std::to_string(gridStep) +
                             ", trailing edge at " + std::to_string(k) +
                             ") does not fit the solver arrays");

    // Restart file.
    std::string restart;
    restart.reserve(static_cast<size_t>(16 * (3 + cols * rows)));
    putRecord(restart, static_cast<double>(iterCount));
    putRecord(restart, static_cast<double>(iterTotal));
    putRecord(restart, static_cast<double>(gridStep));
    for (long j = 1; j <= rows; ++j)
        for (long i = 0; i < cols; ++i)
            putRecord(restart, phis(static_cast<int>(i), static_cast<int>(j)));

    // Cp file.
    std::string title = nameOf(names.title, sizeof names.title);
    title.resize(80, ' ');
    std::string cp;
    auto line = [&cp](const std::string& list, const std::vector<ff::Value>& values) {
        cp += ff::format(list, values);
        cp += '\n';
    };
    line("(a80)", {title});
    line("(i4)", {NX - 2 * k});
    line("(20h<   x    ><   y    >)", {});
    for (int i = k; i <= NX - k; ++i) line("(3f10.6)", {xg(i, 1), yg(i, 1)});
    line("(30h<   xc   >< CpFact >< CpSpec >)", {});
    for (int i = k; i <= NX - k - 1; ++i)
        line("(3f10.6)", {(xg(i, 1) + xg(i + 1, 1)) / 2, cpf(i), cps(i)});
    line("(50h<  Mach  >< Alpha  ><  Hee   ><   Cy   ><   Cx   >)", {});
    line("(5f10.5)", {mach, alpha, sweepRad, clift, cdrag});

    // Both files are complete before either replaces its predecessor.
    Pending ptlFile =
        writeTemporary(nameOf(names.ptlName, sizeof names.ptlName), "restart file", restart);
    Pending cpFile;
    try {
        cpFile = writeTemporary(nameOf(names.cpName, sizeof names.cpName), "Cp file", cp);
    } catch (...) {
        std::remove(ptlFile.temp.c_str());
        throw;
    }
    try {
        commit(ptlFile);
    } catch (...) {
        std::remove(cpFile.temp.c_str());
        throw;
    }
    commit(cpFile);
}

}  // namespace quarel
