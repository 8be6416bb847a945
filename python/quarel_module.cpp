// quarel._core: the analyses, sweeps and designs of quarel-batch for
// Python.  The argument checks and the documentation are in quarel/__init__.py;
// this file only runs the run control and turns what it leaves into dicts.
//
// The solver keeps its arrays as globals, so one run at a time per process:
// every call takes `solverLock` with the interpreter released, so other
// Python threads (a Dask worker's event loop) go on meanwhile.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "CaseTable.h"
#include "RunControl.h"
#include "Sweep.h"
#include "cptarget.h"
#include "message.h"
#include "state.h"

namespace py = pybind11;
using namespace quarel;

namespace {

std::mutex solverLock;

// What every call takes: the section (a file, or coordinates to write into
// the scratch folder), an optional template and the inputs.
struct Request {
    std::string path;
    std::vector<double> xs, ys;
    std::string templ;
    std::string method;
    AnalysisInputs in;
};

struct Surface {
    std::vector<double> x, y, cp, mach;
};

struct Outcome {
    CaseResult result;
    Surface surface;
    // Transition x/c of a viscous run (NaN otherwise).
    double xtrUpper = std::nan(""), xtrLower = std::nan("");
    // The angle of attack of the results (with a fixed lift the one found;
    // NaN when that run did not converge).
    double alpha = std::nan("");
};

// Opens the section of `q` in `scratch` on `run`; throws FileError.
void openRequest(RunControl& run, const Request& q, const std::string& scratch) {
    NewtonOptions options;
    if (!q.method.empty() && !ParseLinearMethod(q.method.c_str(), options.method))
        throw ParameterError("method \"" + q.method +
                             "\": the method must be direct, multilevel, ilu, line or inexact.");
    run.setNewtonOptions(options);
    JobParameters templ;
    if (!q.templ.empty()) {
        std::string title;
        templ = ReadInputFile(q.templ, title);
    }
    std::string path = q.path;
    if (path.empty()) {
        path = scratch + "/section.txt";
        std::string text = "section\n";
        char b[96];
        for (size_t n = 0; n < q.xs.size(); ++n) {
            std::snprintf(b, sizeof b, "%.17g %.17g\n", q.xs[n], q.ys[n]);
            text += b;
        }
        WriteTextFile(path, text, "section file");
    }
    OpenInScratch(run, path, scratch, q.templ.empty() ? nullptr : &templ);
}

// The surface of the fine grid, one value per body face (as in the result file).
Surface surfaceOf(const RunControl& run) {
    Surface s;
    const GridLevel& l = run.level();
    const double divisor = run.freeStream().ordinateDivisor();
    for (int i = l.k; i <= l.NX - l.k - 1; ++i) {
        s.x.push_back((xg(i, 1) + xg(i + 1, 1)) * 0.5);
        s.y.push_back((yg(i, 1) + yg(i + 1, 1)) * 0.5 * divisor);
        s.cp.push_back(cpf(i));
        s.mach.push_back(amach(i, 1));
    }
    return s;
}

CaseResult failed(int code, const std::string& text) {
    CaseResult r;
    r.exitCode = code;
    r.message = text;
    return r;
}

template <class F>
CaseResult guarded(F&& body) {
    try {
        return body();
    } catch (const FileError& e) {
        return failed(kCaseFile, e.what());
    } catch (const ParameterError& e) {
        return failed(kCaseParameter, e.what());
    } catch (const std::exception& e) {
        return failed(kCaseSolver, e.what());
    }
}

// Runs `body(run, folder)` on a run opened from the request in the scratch
// folder `folder`, with the interpreter free and the solver held, its
// failures as results.
template <class F>
CaseResult withOpenedRun(const Request& q, F&& body) {
    py::gil_scoped_release free;
    std::lock_guard<std::mutex> hold(solverLock);
    return guarded([&] {
        ScratchFolder scratch;
        RunControl run;
        openRequest(run, q, scratch.path());
        return body(run, scratch.path());
    });
}

py::array_t<double> array(const std::vector<double>& v) {
    return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}

double figure(const CaseResult& r, double v) {
    return r.done ? v : std::nan("");
}

void putResult(py::dict& d, const CaseResult& r) {
    d["CL"] = figure(r, r.CL);
    d["CD"] = figure(r, r.CD);
    d["CDw"] = figure(r, r.CDw);
    d["CDp"] = figure(r, r.CDp);
    d["CDf"] = figure(r, r.CDf);
    d["CM"] = figure(r, r.CM);
    d["converged"] = r.converged;
    d["exit_code"] = r.exitCode;
    d["message"] = r.message;
    d["warnings"] = r.warnings;
}

py::dict analyse(const Request& q) {
    Outcome o;
    o.result = withOpenedRun(q, [&](RunControl& run, const std::string&) {
        CaseResult r = Analyse(run, q.in);
        if (r.done) o.surface = surfaceOf(run);
        if (r.done && run.results.viscous.valid) {
            o.xtrUpper = run.results.viscous.xtrUpper;
            o.xtrLower = run.results.viscous.xtrLower;
        }
        if (r.done && (r.converged || !q.in.hasCl)) o.alpha = run.job.alpha;
        return r;
    });
    py::dict d;
    putResult(d, o.result);
    d["x"] = array(o.surface.x);
    d["y"] = array(o.surface.y);
    d["cp"] = array(o.surface.cp);
    d["mach"] = array(o.surface.mach);
    d["xtr_upper"] = o.xtrUpper;
    d["xtr_lower"] = o.xtrLower;
    d["alpha"] = o.alpha;
    return d;
}

py::dict polar(const Request& q, const std::string& variable, const std::vector<double>& values,
               bool warm) {
    const SweepSpec::Variable v =
        variable == "mach" ? SweepSpec::Variable::Mach : SweepSpec::Variable::Alpha;
    std::vector<CaseResult> points;
    std::vector<double> alphas, machs;
    std::vector<std::pair<double, double>> xtrs;  // transition x/c, upper and lower
    CaseResult setup;
    setup = withOpenedRun(q, [&](RunControl& run, const std::string&) {
        // The fixed inputs first; the swept one is set point by point.
        ApplyInputs(run, q.in);
        RunSweepValues(run, v, values, warm, [&](const SweepPoint& p) {
            CaseResult r;
            alphas.push_back(p.alpha);
            machs.push_back(p.mach);
            if (p.done) {
                r.done = true;
                r.converged = run.converged();
                r.CL = run.results.clift;
                r.CD = r.CDp = run.results.cdragPressure;
                r.CDw = run.results.cdrag;
                r.CM = run.results.cmoment;
                const ViscousResults& vr = run.results.viscous;
                if (vr.valid) {
                    r.CD = vr.cdTotal;
                    r.CDf = vr.cdFriction;
                    r.CDp = vr.cdTotal - vr.cdFriction;
                    xtrs.emplace_back(vr.xtrUpper, vr.xtrLower);
                } else {
                    xtrs.emplace_back(std::nan(""), std::nan(""));
                }
                r.exitCode = !r.converged          ? kCaseNotConverged
                             : run.resultFlagged() ? kCaseWarnings
                                                   : kCaseOk;
                r.message = r.converged ? p.problem : "the solution is not converged.";
            } else {
                r.exitCode = p.refused ? kCaseParameter : kCaseSolver;
                r.message = p.problem;
                xtrs.emplace_back(std::nan(""), std::nan(""));
            }
            points.push_back(r);
        });
        return CaseResult{};
    });
    py::dict d;
    if (setup.exitCode != kCaseOk) {  // the section or the template could not be opened
        for (size_t n = 0; n < values.size(); ++n) {
            points.push_back(setup);
            xtrs.emplace_back(std::nan(""), std::nan(""));
            alphas.push_back(v == SweepSpec::Variable::Alpha ? values[n] : q.in.alpha);
            machs.push_back(v == SweepSpec::Variable::Mach ? values[n] : q.in.mach);
        }
    }
    std::vector<double> cl, cd, cdw, cdp, cdf, cm;
    std::vector<bool> converged;
    std::vector<int> codes;
    std::vector<std::string> messages;
    for (const CaseResult& r : points) {
        cl.push_back(figure(r, r.CL));
        cd.push_back(figure(r, r.CD));
        cdw.push_back(figure(r, r.CDw));
        cdp.push_back(figure(r, r.CDp));
        cdf.push_back(figure(r, r.CDf));
        cm.push_back(figure(r, r.CM));
        converged.push_back(r.converged);
        codes.push_back(r.exitCode);
        messages.push_back(r.message);
    }
    d["alpha"] = array(alphas);
    d["mach"] = array(machs);
    d["CL"] = array(cl);
    d["CD"] = array(cd);
    d["CDw"] = array(cdw);
    d["CDp"] = array(cdp);
    d["CDf"] = array(cdf);
    d["CM"] = array(cm);
    std::vector<double> xu, xl;
    for (const auto& x : xtrs) {
        xu.push_back(x.first);
        xl.push_back(x.second);
    }
    d["xtr_upper"] = array(xu);
    d["xtr_lower"] = array(xl);
    py::array_t<bool> conv(static_cast<py::ssize_t>(converged.size()));
    for (size_t n = 0; n < converged.size(); ++n) conv.mutable_at(n) = converged[n];
    d["converged"] = conv;
    d["exit_code"] = py::array_t<int>(static_cast<py::ssize_t>(codes.size()), codes.data());
    d["message"] = messages;
    return d;
}

py::dict design(const Request& q, const std::string& targetPath, const std::vector<double>& tx,
                const std::vector<double>& tcp, int iterations, int regime) {
    struct Step {
        int iteration;
        double deviation, cl, clTarget, alpha, dy;
    };
    std::vector<Step> history;
    std::vector<double> x, y;
    double alpha = std::nan("");
    CaseResult result;
    result = withOpenedRun(q, [&](RunControl& run, const std::string& folder) {
        std::string target = targetPath;
        if (target.empty()) {
            target = folder + "/target.txt";
            std::string text;
            char b[96];
            for (size_t n = 0; n < tx.size(); ++n) {
                std::snprintf(b, sizeof b, "%.17g %.17g\n", tx[n], tcp[n]);
                text += b;
            }
            WriteTextFile(target, text, "target table");
        }
        const CpTable table = readCpTable(target);
        CaseResult r = Analyse(run, q.in);
        if (r.exitCode != kCaseOk && r.exitCode != kCaseWarnings) return r;
        if (regime >= 0) run.setDesignRegime(regime);
        targetFromTable(table, run.level().NX, run.level().k, xg.data(), cps.data());
        run.acceptTarget();
        for (int n = 1; n <= iterations; ++n) {
            run.calculate();
            history.push_back(Step{run.design.globalIteration, run.results.cpDeviation,
                                   run.results.cliftCurrent, run.results.cliftTarget, run.job.alpha,
                                   run.lastDesign().largestOrdinateChange});
        }
        const GridLevel& l = run.level();
        const double divisor = run.freeStream().ordinateDivisor();
        for (int i = l.k; i <= l.NX - l.k; ++i) {
            x.push_back(xg(i, 1));
            y.push_back(yg(i, 1) * divisor);
        }
        alpha = run.job.alpha;
        r.converged = run.converged();
        r.done = false;  // the figures of the analysis are not those of the design
        if (!r.converged) {
            r.exitCode = kCaseNotConverged;
            r.message = "the last design run is not converged.";
        }
        return r;
    });
    py::dict d;
    d["converged"] = result.converged;
    d["exit_code"] = result.exitCode;
    d["message"] = result.message;
    d["warnings"] = result.warnings;
    d["x"] = array(x);
    d["y"] = array(y);
    d["alpha"] = alpha;
    std::vector<double> it, dev, cl, clt, al, dy;
    for (const Step& s : history) {
        it.push_back(s.iteration);
        dev.push_back(s.deviation);
        cl.push_back(s.cl);
        clt.push_back(s.clTarget);
        al.push_back(s.alpha);
        dy.push_back(s.dy);
    }
    py::dict h;
    h["iteration"] = array(it);
    h["cp_deviation"] = array(dev);
    h["CL"] = array(cl);
    h["CL_target"] = array(clt);
    h["alpha"] = array(al);
    h["largest_dy"] = array(dy);
    d["history"] = h;
    return d;
}

Request request(const std::string& path, const std::vector<double>& xs,
                const std::vector<double>& ys, const py::object& mach, const py::object& alpha,
                const py::object& sweep, const std::string& templ, const std::vector<int>& grid,
                double tolerance, const std::string& method, double timeout,
                const py::object& re = py::none(), double ncrit = 9.0, double xtrUpper = 1.0,
                double xtrLower = 1.0, const py::object& cl = py::none()) {
    Request q;
    if (!cl.is_none()) q.in.hasCl = true, q.in.cl = cl.cast<double>();
    if (!re.is_none()) {
        q.in.viscous.enabled = true;
        q.in.viscous.reynolds = re.cast<double>();
        q.in.viscous.ncrit = ncrit;
        q.in.viscous.xtrUpper = xtrUpper;
        q.in.viscous.xtrLower = xtrLower;
    }
    q.path = path;
    q.xs = xs;
    q.ys = ys;
    q.templ = templ;
    q.method = method;
    if (!mach.is_none()) q.in.hasMach = true, q.in.mach = mach.cast<double>();
    if (!alpha.is_none()) q.in.hasAlpha = true, q.in.alpha = alpha.cast<double>();
    if (!sweep.is_none()) q.in.hasSweep = true, q.in.sweep = sweep.cast<double>();
    q.in.tolerance = tolerance;
    if (grid.size() == 4) {
        q.in.NPA = grid[0];
        q.in.NCO = grid[1];
        q.in.NBH = grid[2];
        q.in.Kgrid = grid[3];
    }
    q.in.timeout = timeout;
    return q;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The run code of quarel-batch; use the functions of the quarel package.";
    // Iteration lines would go to the caller's standard output.
    msg::setQuiet(true);

    m.def("analyse", [](const std::string& path, const std::vector<double>& xs,
                        const std::vector<double>& ys, py::object mach, py::object alpha,
                        py::object sweep, const std::string& templ, const std::vector<int>& grid,
                        double tolerance, const std::string& method, double timeout, py::object re,
                        double ncrit, double xtrUpper, double xtrLower, py::object cl) {
        return analyse(request(path, xs, ys, mach, alpha, sweep, templ, grid, tolerance, method,
                               timeout, re, ncrit, xtrUpper, xtrLower, cl));
    });
    m.def("polar",
          [](const std::string& path, const std::vector<double>& xs, const std::vector<double>& ys,
             py::object mach, py::object alpha, py::object sweep, const std::string& templ,
             const std::vector<int>& grid, double tolerance, const std::string& method,
             const std::string& variable, const std::vector<double>& values, bool warm,
             py::object re, double ncrit, double xtrUpper, double xtrLower) {
              return polar(request(path, xs, ys, mach, alpha, sweep, templ, grid, tolerance, method,
                                   0.0, re, ncrit, xtrUpper, xtrLower),
                           variable, values, warm);
          });
    m.def("design",
          [](const std::string& path, const std::vector<double>& xs, const std::vector<double>& ys,
             py::object mach, py::object alpha, py::object sweep, const std::string& templ,
             const std::vector<int>& grid, double tolerance, const std::string& method,
             const std::string& target, const std::vector<double>& tx,
             const std::vector<double>& tcp, int iterations, int regime) {
              return design(
                  request(path, xs, ys, mach, alpha, sweep, templ, grid, tolerance, method, 0.0),
                  target, tx, tcp, iterations, regime);
          });
    // For the Dask runner: the header and size of a case table, and the row
    // of a case that could not be run (a worker lost or past its time), in
    // the very format quarel-batch --cases writes.
    m.def("case_table", [](const std::string& path) {
        const CaseTable t = ReadCaseTable(path);
        return py::make_tuple(CaseResultHeader(t), t.rows.size());
    });
    m.def("case_failed_row",
          [](const std::string& path, size_t row, int code, const std::string& message) {
              const CaseTable t = ReadCaseTable(path);
              if (row >= t.rows.size()) throw py::index_error("no such case");
              return CaseResultRow(t, row, failed(code, message));
          });
    py::register_exception<FileError>(m, "FileError", PyExc_OSError);
}
