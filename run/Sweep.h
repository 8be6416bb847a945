// Polars and Mach sweeps: a run of calculations over a range of angles of
// attack or Mach numbers, each started from the converged solution of the
// point before it (the grid stays the same, so only the fine level runs
// after the first point).  The first point, and any after a point whose
// solution did not converge, start from the free stream.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "RunControl.h"

namespace quarel {

struct SweepSpec {
    enum class Variable { Alpha, Mach } variable = Variable::Alpha;
    double from = 0.0, to = 0.0, step = 1.0;
};

// Parses "FROM:TO:STEP" (STEP may be negative to run downward).  False
// with a message for a malformed or endless range (at most 500 points).
bool ParseSweep(const std::string& text, SweepSpec::Variable variable, SweepSpec& spec,
                std::string& error);

// The values of the range, `to` included when the steps reach it.
std::vector<double> SweepValues(const SweepSpec& spec);

struct SweepPoint {
    int index = 0;  // 1-based
    double alpha = 0.0, mach = 0.0;
    bool done = false;       // a result was computed
    bool converged = false;  // and its fine level converged (RunControl::converged)
    int steps = 0;           // Newton steps on the fine grid
    int levels = 0;          // grid levels run (1 after a warm start)
    double seconds = 0.0;
    double clift = 0.0, cdrag = 0.0, cmoment = 0.0;
    // Viscous mode: the total and friction drag and the transition x/c.
    bool viscous = false;
    double cdTotal = 0.0, cdFriction = 0.0, xtrUpper = 1.0, xtrLower = 1.0;
    bool stopped = false;  // the progress hook asked to stop during this point
    bool refused = false;  // failed: its input was refused before any work
    std::string cpFile;    // this point's own copy of the Cp file
    std::string problem;   // why the point failed, or its warnings
    bool entropy = false;  // run with the non-isentropic model
};

// Runs the sweep on an opened job.  The Cp file of every point is copied to
// NAME_sweep_NN.cp beside the input; a point that fails is recorded and the
// sweep goes on; a point stopped by the run's progress hook is recorded as
// stopped and ends the sweep.  `each` (may be empty) sees every point as it
// finishes.
std::vector<SweepPoint> RunSweep(RunControl& run, const SweepSpec& spec, bool warmStart,
                                 const std::function<void(const SweepPoint&)>& each);

// The same over any list of values of the swept variable.
std::vector<SweepPoint> RunSweepValues(RunControl& run, SweepSpec::Variable variable,
                                       const std::vector<double>& values, bool warmStart,
                                       const std::function<void(const SweepPoint&)>& each);

// The table of a sweep as CSV with a header line; in viscous mode with the
// total, friction and pressure drag and the transition points after
// cmoment.
std::string SweepTable(const std::vector<SweepPoint>& points);

}  // namespace quarel
