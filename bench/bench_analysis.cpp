// Speed of the transonic analysis on the largest grid the arrays allow
// with four grid levels: NACA 0012, M = 0.8, alpha = 1.25 deg.
//
//   build/quarel_bench                    all benchmarks
//   build/quarel_bench --benchmark_filter=Newton
//
// Peak memory (maximum resident set size) is reported as a counter.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "RunControl.h"
#include "SOLV1.h"
#include "message.h"

namespace {

namespace fs = std::filesystem;

// Copies the sample into a scratch directory (the run writes its restart
// and Cp files beside the input and the grid listing into the current
// directory) and opens it with the largest Kgrid-4 grid.
void setUp(quarel::RunControl& rc) {
    static const fs::path dir = fs::temp_directory_path() / "quarel-bench";
    fs::create_directories(dir);
    fs::current_path(dir);
    fs::copy_file(fs::path(QUAREL_SOURCE_DIR) / "examples" / "naca0012_m080.dat",
                  dir / "bench.dat", fs::copy_options::overwrite_existing);
    rc.open((dir / "bench.dat").string());
    rc.mach = 0.8;
    rc.alpha = 1.25;
    rc.swept = 0.0;
    rc.Kgrid = 4;
    rc.NPA = 84;  // NX = 4 * (84 + 2 * 20) = 496
    rc.NBH = 20;
    rc.NCO = 39;  // NY = 4 * 39 + 1 = 157
}

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void BM_FullAnalysis(benchmark::State& state) {
    quarel::msg::setQuiet(true);
    quarel::RunControl rc;
    setUp(rc);
    int steps = 0;
    for (auto _ : state) {
        rc.runStage = 2;
        rc.calculate();
        steps = static_cast<int>(rc.log.size());
    }
    state.counters["Clift"] = rc.clift;
    state.counters["Cdrag"] = rc.cdrag;
    state.counters["log_lines"] = steps;
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(BM_FullAnalysis)->Unit(benchmark::kMillisecond)->Iterations(3);

// One Newton step on the fine grid, started from a converged solution.
void BM_NewtonStepFine(benchmark::State& state) {
    quarel::msg::setQuiet(true);
    quarel::RunControl rc;
    setUp(rc);
    rc.calculate();
    int itr = 2;
    double res = 0.0, cd = 0.0, cl = 0.0;
    char line[81];
    for (auto _ : state) {
        quarel::NewtonStep(rc.NY, rc.k, rc.NX, rc.mach, rc.gamma, rc.diagFactor, rc.maxResidual,
                           rc.linearIterations, rc.gmresDim, rc.designFlag, rc.designRegime,
                           rc.designEnd, itr, res, cd, cl, rc.cu, rc.su, rc.cosSweep,
                           rc.sin2Sweep, line);
    }
    state.counters["NX"] = rc.NX;
    state.counters["NY"] = rc.NY;
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(BM_NewtonStepFine)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
