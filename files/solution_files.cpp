// Solution files of an analysis: the restart file with the potential of
// the whole grid, and the Cp file with the surface pressures and the
// flow results.
//
// Each file is first written completely to a temporary file beside it
// and then renamed over the old one (file_replace.h), so a failed write
// (full disk, missing permission), a kill or another run leaves the files
// of the previous run intact.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "file_replace.h"
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

    // Both files are complete before either replaces its predecessor, and
    // a marker says that the two renames are under way: a run killed
    // between them leaves a restart file and a Cp file of different runs,
    // which the restart reader then refuses instead of combining.
    const std::string ptlPath = nameOf(names.ptlName, sizeof names.ptlName);
    const PendingFile ptlFile = WriteBeside(ptlPath, restart, "the restart file");
    PendingFile cpFile;
    try {
        cpFile = WriteBeside(nameOf(names.cpName, sizeof names.cpName), cp, "the Cp file");
        Commit(WriteBeside(PairMarkerPath(ptlPath), "", "the restart marker"));
    } catch (...) {
        Discard(ptlFile);
        Discard(cpFile);
        throw;
    }
    try {
        Commit(ptlFile);
    } catch (...) {
        Discard(cpFile);
        std::remove(PairMarkerPath(ptlPath).c_str());
        throw;
    }
    Commit(cpFile);
    std::remove(PairMarkerPath(ptlPath).c_str());
}

}  // namespace quarel
