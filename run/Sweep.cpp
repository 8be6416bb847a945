#include "Sweep.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "JobFiles.h"
#include "file_replace.h"
#include "message.h"

namespace quarel {

namespace {

constexpr int kMaxSweepPoints = 500;

bool number(const std::string& text, double& v) {
    if (text.empty()) return false;
    char* end = nullptr;
    v = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0' && std::isfinite(v);
}

bool copyFile(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    try {
        ReplaceFile(to, text.str(), "the Cp file of the sweep point");
    } catch (const FileError&) {
        return false;
    }
    return true;
}

}  // namespace

bool ParseSweep(const std::string& text, SweepSpec::Variable variable, SweepSpec& spec,
                std::string& error) {
    const size_t a = text.find(':'), b = text.find(':', a == std::string::npos ? a : a + 1);
    SweepSpec s;
    s.variable = variable;
    if (a == std::string::npos || b == std::string::npos || !number(text.substr(0, a), s.from) ||
        !number(text.substr(a + 1, b - a - 1), s.to) || !number(text.substr(b + 1), s.step)) {
        error = "\"" + text + "\": a sweep is FROM:TO:STEP, three numbers.";
        return false;
    }
    if (s.step == 0.0 || (s.to - s.from) / s.step < -1e-9) {
        error = "\"" + text + "\": the step must lead from FROM to TO.";
        return false;
    }
    if (std::floor((s.to - s.from) / s.step + 1e-9) + 1 > kMaxSweepPoints) {
        error = "\"" + text + "\": more than " + std::to_string(kMaxSweepPoints) + " points.";
        return false;
    }
    spec = s;
    return true;
}

std::vector<double> SweepValues(const SweepSpec& spec) {
    std::vector<double> v;
    const int n = static_cast<int>(std::floor((spec.to - spec.from) / spec.step + 1e-9));
    for (int m = 0; m <= n; ++m) v.push_back(spec.from + m * spec.step);
    return v;
}

std::vector<SweepPoint> RunSweep(RunControl& run, const SweepSpec& spec, bool warmStart,
                                 const std::function<void(const SweepPoint&)>& each) {
    return RunSweepValues(run, spec.variable, SweepValues(spec), warmStart, each);
}

std::vector<SweepPoint> RunSweepValues(RunControl& run, SweepSpec::Variable variable,
                                       const std::vector<double>& values, bool warmStart,
                                       const std::function<void(const SweepPoint&)>& each) {
    std::vector<SweepPoint> points;
    const std::string input = run.files().inputPath;
    const std::string stem = input.substr(0, input.size() - 4);
    int index = 0;
    // Only a converged solution of this sweep starts the next point: the
    // first starts from the free stream whatever was calculated before,
    // and an unconverged point would hand its error on.  (A point that
    // broke down has put the one before it back.)
    bool first = true;
    // The values of the last two converged points in a row and the
    // potential of the first of them: the next point starts from the
    // solution extrapolated from the two.
    double lastValue[2] = {0.0, 0.0};
    std::vector<double> before;
    int known = 0;
    for (double value : values) {
        const bool warm = warmStart && !first && run.converged();
        if (warm && known == 2 && lastValue[1] != lastValue[0]) {
            run.setWarmStart(true, before, (value - lastValue[1]) / (lastValue[1] - lastValue[0]));
        } else {
            run.setWarmStart(warm);
        }
        first = false;
        // The potential of the last point, before this one replaces it.
        std::vector<double> last = warmStart ? run.finePotential() : std::vector<double>();
        SweepPoint p;
        p.index = ++index;
        if (variable == SweepSpec::Variable::Alpha) {
            run.job.alpha = value;
        } else {
            run.job.mach = value;
        }
        p.alpha = run.job.alpha;
        p.entropy = run.job.entropy.enabled;
        p.mach = run.job.mach;
        p.viscous = run.job.viscous.enabled;
        run.flowChanged();
        const size_t logBefore = run.log().size();
        const auto start = std::chrono::steady_clock::now();
        try {
            const RunControl::CalcOutcome outcome = run.calculate();
            p.done = outcome == RunControl::CalcOutcome::Done;
            p.stopped = outcome == RunControl::CalcOutcome::Stopped;
            if (p.stopped) p.problem = "stopped";
        } catch (const ParameterError& e) {
            p.refused = true;
            p.problem = e.what();
        } catch (const std::exception& e) {
            p.problem = e.what();
        }
        p.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (size_t n = logBefore; n < run.log().size(); ++n)
            if (run.log()[n].rfind(" Grid: ", 0) == 0) ++p.levels;
        if (p.done) {
            // A fixed lift found its own alpha.
            p.alpha = run.job.alpha;
            p.clift = run.results.clift;
            p.cdrag = run.results.cdrag;
            p.cmoment = run.results.cmoment;
            p.cdTotal = run.results.viscous.cdTotal;
            p.cdFriction = run.results.viscous.cdFriction;
            p.xtrUpper = run.results.viscous.xtrUpper;
            p.xtrLower = run.results.viscous.xtrLower;
            p.steps = run.status().iterCount;
            // The run's own end test: the residual below the tolerance and a
            // settled lift on the fine grid.
            p.converged = run.converged();
            char name[32];
            std::snprintf(name, sizeof name, "_sweep_%02d.cp", p.index);
            p.cpFile = stem + name;
            if (!copyFile(nameOf(run.files().names.cpName, kNameField), p.cpFile)) {
                p.problem = "the Cp file could not be copied to \"" + p.cpFile + "\"";
                p.cpFile.clear();
            }
            for (const std::string& w : run.warnings()) {
                if (!p.problem.empty()) p.problem += " ";
                p.problem += w;
            }
        }
        if (p.done && p.converged) {
            lastValue[0] = lastValue[1];
            lastValue[1] = value;
            before = std::move(last);
            known = known < 2 ? known + 1 : 2;
        } else {
            known = 0;
        }
        points.push_back(p);
        if (each) each(p);
        if (p.stopped) break;
    }
    run.setWarmStart(false);
    return points;
}

std::string SweepTable(const std::vector<SweepPoint>& points) {
    const bool viscous = !points.empty() && points.front().viscous;
    // The model gets a column only in a table that has a non-isentropic point.
    bool model = false;
    for (const SweepPoint& p : points) model = model || p.entropy;
    std::string out = viscous ? "point,alpha,mach,clift,cdrag,cmoment,cdrag_total,cdrag_f,cdrag_p,"
                                "xtr_upper,xtr_lower,converged,levels,steps,seconds,cp_file,remark"
                              : "point,alpha,mach,clift,cdrag,cmoment,converged,levels,steps,"
                                "seconds,cp_file,remark";
    out += model ? ",model\n" : "\n";
    for (const SweepPoint& p : points) {
        char b[256];
        std::snprintf(b, sizeof b, "%d,%.4f,%.4f,", p.index, p.alpha, p.mach);
        out += b;
        if (p.done) {
            std::snprintf(b, sizeof b, "%.6f,%.6f,%.6f,", p.clift, p.cdrag, p.cmoment);
            out += b;
            if (viscous) {
                std::snprintf(b, sizeof b, "%.6f,%.6f,%.6f,%.4f,%.4f,", p.cdTotal, p.cdFriction,
                              p.cdTotal - p.cdFriction, p.xtrUpper, p.xtrLower);
                out += b;
            }
            std::snprintf(b, sizeof b, "%s,%d,%d,%.3f,", p.converged ? "yes" : "no", p.levels,
                          p.steps, p.seconds);
        } else {
            std::snprintf(b, sizeof b, ",,,%s%s,%d,,%.3f,", viscous ? ",,,,," : "",
                          p.stopped ? "stopped" : "failed", p.levels, p.seconds);
        }
        out += b;
        out += p.cpFile + ",\"";
        for (char c : p.problem) out += c == '"' ? '\'' : (c == '\n' ? ' ' : c);
        out += "\"";
        if (model) out += p.entropy ? ",non-isentropic" : ",isentropic";
        out += "\n";
    }
    return out;
}

}  // namespace quarel
