#include "DesignFiles.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "CoordinateFile.h"
#include "message.h"
#include "state.h"

namespace quarel {

namespace {

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

}  // namespace

std::string DesignedInputPath(const std::string& inputPath) {
    return inputPath.substr(0, inputPath.size() >= 4 ? inputPath.size() - 4 : 0) + "_design.dat";
}

std::string DesignedInputText(const std::string& title, const JobParameters& job,
                              const GridLevel& fine, double divisor) {
    std::string t = title;
    const std::string tag = " (designed)";
    if (t.size() + tag.size() <= 80) t += tag;
    // The body nodes of the fine grid, from the upper trailing edge round
    // the leading edge, in the user's frame.
    std::vector<double> x, y;
    std::vector<std::string> notes;
    for (int i = fine.k; i <= fine.NX - fine.k; ++i) {
        x.push_back(xgs(i, 1));
        y.push_back(ygs(i, 1) * divisor);
    }
    FitContour(x, y, notes);
    JobParameters designed = job;
    designed.NCONT = static_cast<int>(x.size());
    for (int m = 1; m <= designed.NCONT; ++m) {
        designed.XCONT(m) = x[static_cast<size_t>(m) - 1];
        designed.YCONT(m) = y[static_cast<size_t>(m) - 1];
    }
    return InputFileText(t, designed);
}

void ReplaceTextFile(const std::string& path, const std::string& text, const std::string& what) {
    const std::string temp = path + ".new";
    bool ok = false;
    int err = 0;
    if (std::FILE* f = std::fopen(temp.c_str(), "wb")) {
        ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
        if (!ok) err = errno;
        if (std::fclose(f) != 0 && ok) {
            ok = false;
            err = errno;
        }
    } else {
        err = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        std::remove(temp.c_str());
        throw FileError("Cannot write the " + what + " " + quoted(path) + ": " +
                        (err ? std::strerror(err) : "the data could not be written") + ".");
    }
}

}  // namespace quarel
