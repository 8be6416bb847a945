// Speed of the transonic analysis on a large three-level grid (Kgrid 4):
// NACA 0012, M = 0.8, alpha = 1.25 deg, fine grid 496 x 97.
//
// The fine grid uses the largest NX the arrays allow (NPA + 2 NBH = 124 at
// Kgrid 4).  NY is not the largest possible (157): with NCO = 39 the
// sample's growth ratios fold the grid, and with milder ratios the coarse
// level (124 x 40) does not converge and the next one breaks down at the
// leading edge.  NCO = 24 with normal growth ratios of 1.03 (vortex sheet,
// leading edge) and 1.04 (trailing edge, mid-chord) gives a sound grid on
// which all three levels run through.
//
// The full analysis runs at Max.residual 1e-5, 1e-7 and 1e-9 (the first
// argument is the exponent) with the line, inexact, ilu, multilevel and
// direct methods (second argument 0, 1, 2, 3 and 4).  Each level ends when its residual is below
// the tolerance and the lift has settled; a run whose fine level does not get there within 50 steps
// reports converged = 0.
//
//   build/quarel_bench                    all benchmarks
//   build/quarel_bench --benchmark_filter=Newton
//
// Peak memory (maximum resident set size) is reported as a counter.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "CDEF1.h"
#include "RunControl.h"
#include "SOLV1.h"
#include "message.h"
#include "operator.h"
#include "state.h"

namespace {
// Runs the calculation; a failure skips the benchmark with its message.
bool calculated(quarel::RunControl& rc, benchmark::State& state) {
    try {
        rc.calculate();
        return true;
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return false;
    }
}
}  // namespace

// Counts the heap allocations made through operator new, so that the
// Newton-step benchmark can report what one step allocates.
static std::atomic<long> g_allocations{0};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

namespace fs = std::filesystem;

// The linear method of a benchmark argument: 0 line, 1 inexact, 2 ilu,
// 3 multilevel, 4 direct.
quarel::LinearMethod MethodOf(const int64_t arg) {
    switch (arg) {
        case 1:
            return quarel::LinearMethod::Inexact;
        case 2:
            return quarel::LinearMethod::Ilu;
        case 3:
            return quarel::LinearMethod::Multilevel;
        case 4:
            return quarel::LinearMethod::Direct;
        default:
            return quarel::LinearMethod::Line;
    }
}

// Copies the sample into a scratch directory (the run writes its restart
// and Cp files beside the input and the grid listing into the current
// directory) and opens it with the largest Kgrid-4 grid.
void setUp(quarel::RunControl& rc) {
    static const fs::path dir = fs::temp_directory_path() / "quarel-bench";
    fs::create_directories(dir);
    fs::current_path(dir);
    fs::copy_file(fs::path(QUAREL_SOURCE_DIR) / "examples" / "naca0012_m080.dat", dir / "bench.dat",
                  fs::copy_options::overwrite_existing);
    rc.open((dir / "bench.dat").string());
    quarel::JobParameters& job = rc.job;
    job.mach = 0.8;
    job.alpha = 1.25;
    job.swept = 0.0;
    job.Kgrid = 4;
    job.NPA = 84;  // NX = 4 * (84 + 2 * 20) = 496
    job.NBH = 20;
    job.NCO = 24;  // NY = 4 * 24 + 1 = 97
    // Growth ratios of the stations: vortex sheet, trailing edge, mid-chord,
    // leading edge, mid-chord, trailing edge, vortex sheet.
    const int entries[7] = {1, 4, 6, 7, 8, 10, 13};
    const double ratios[7] = {1.03, 1.04, 1.04, 1.03, 1.04, 1.04, 1.03};
    for (int m = 0; m < 7; ++m) job.DSGRID(entries[m]) = ratios[m];
    // The convergence settings of a quick run, fixed here so that the
    // figures do not follow the sample's own settings.
    job.maxResidual = 1.0e-5;  // BM_FullAnalysis sets its own
    job.linearIterations = 10;
    job.gmresDim = 15;
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
    rc.job.maxResidual = std::pow(10.0, -static_cast<double>(state.range(0)));
    quarel::NewtonOptions options;
    options.method = MethodOf(state.range(1));
    rc.setNewtonOptions(options);
    int steps = 0;
    for (auto _ : state) {
        rc.flowChanged();
        const size_t before = rc.log().size();
        if (!calculated(rc, state)) return;
        steps = static_cast<int>(rc.log().size() - before);
    }
    state.counters["Clift"] = rc.results.clift;
    state.counters["Cdrag"] = rc.results.cdrag;
    state.counters["log_lines"] = steps;
    state.counters["converged"] = rc.converged() ? 1 : 0;
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(BM_FullAnalysis)->Args({5, 0})->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FullAnalysis)->Args({5, 1})->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FullAnalysis)->Args({7, 0})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FullAnalysis)->Args({7, 1})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FullAnalysis)->Args({5, 2})->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FullAnalysis)->Args({7, 2})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FullAnalysis)->Args({9, 2})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FullAnalysis)->Args({5, 3})->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FullAnalysis)->Args({7, 3})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FullAnalysis)->Args({9, 3})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FullAnalysis)->Args({5, 4})->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FullAnalysis)->Args({7, 4})->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FullAnalysis)->Args({9, 4})->Unit(benchmark::kMillisecond)->Iterations(1);

// The transonic sample as shipped (224 x 33, Max.residual 1e-7, 20 GMRES
// cycles of dimension 30); the argument selects the method (0 line,
// 1 inexact, 2 ilu, 3 multilevel, 4 direct).
void BM_SampleTransonic(benchmark::State& state) {
    quarel::msg::setQuiet(true);
    static const fs::path dir = fs::temp_directory_path() / "quarel-bench";
    fs::create_directories(dir);
    fs::current_path(dir);
    fs::copy_file(fs::path(QUAREL_SOURCE_DIR) / "examples" / "naca0012_m080.dat",
                  dir / "sample.dat", fs::copy_options::overwrite_existing);
    quarel::RunControl rc;
    rc.open((dir / "sample.dat").string());
    quarel::NewtonOptions options;
    options.method = MethodOf(state.range(0));
    rc.setNewtonOptions(options);
    for (auto _ : state) {
        rc.flowChanged();
        if (!calculated(rc, state)) return;
    }
    state.counters["Clift"] = rc.results.clift;
    state.counters["Cdrag"] = rc.results.cdrag;
    state.counters["converged"] = rc.converged() ? 1 : 0;
}
BENCHMARK(BM_SampleTransonic)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// One Newton step on the fine grid, started from a converged solution; the
// argument selects the method as above.
void BM_NewtonStepFine(benchmark::State& state) {
    quarel::msg::setQuiet(true);
    quarel::RunControl rc;
    setUp(rc);
    quarel::NewtonOptions options;
    options.method = MethodOf(state.range(0));
    rc.setNewtonOptions(options);
    if (!calculated(rc, state)) return;
    const long allocationsBefore = g_allocations.load();
    const quarel::GridLevel& l = rc.level();
    // A step of the fine level as the run makes it, but always the first of
    // its level (no step before to judge).
    quarel::NewtonSolver newton(options);
    const quarel::NewtonProblem problem = quarel::NewtonProblemOf(
        l, rc.freeStream(), rc.job, quarel::Tolerances::analysis(rc.job.maxResidual));
    int iterations = 0;
    for (auto _ : state) {
        newton.beginLevel(problem);
        iterations = newton.step().linearIterations;
    }
    // Heap allocations per step: the iteration line's formatting only.
    state.counters["allocs_per_step"] =
        static_cast<double>(g_allocations.load() - allocationsBefore) /
        static_cast<double>(state.iterations());
    state.counters["gmres_its"] = iterations;
    state.counters["NX"] = l.NX;
    state.counters["NY"] = l.NY;
    state.counters["peak_MB"] = peakMegabytes();
}
BENCHMARK(BM_NewtonStepFine)->Arg(0)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

// Forming the exact Newton matrix once on the fine grid of 496 x 97 from a
// converged solution (the approximate system built before it, as a step
// does, but not timed).
void BM_ExactMatrix(benchmark::State& state) {
    quarel::msg::setQuiet(true);
    quarel::RunControl rc;
    setUp(rc);
    if (!calculated(rc, state)) return;
    const quarel::GridLevel& l = rc.level();
    const quarel::FreeStream& f = rc.freeStream();
    quarel::FarFieldValues(l.k, l.NX, l.NY, f.cu, f.su);
    quarel::BuildSystem(l.NY, l.k, l.NX, f.mach, f.gamma, 1.2, f.sin2Sweep, 0, 0, 0);
    quarel::ExactRowsWorkspace work;
    for (auto _ : state)
        quarel::ExactRows(l.NY, l.k, l.NX, f.mach, f.gamma, f.sin2Sweep, 0, 0, 0, work);
    state.counters["NX"] = l.NX;
    state.counters["NY"] = l.NY;
}
BENCHMARK(BM_ExactMatrix)->Unit(benchmark::kMillisecond);

// One evaluation of the residual on the same grid (the face densities and
// every row with its approximate slots), the unit of BM_ExactMatrix.
void BM_Residual(benchmark::State& state) {
    quarel::msg::setQuiet(true);
    quarel::RunControl rc;
    setUp(rc);
    if (!calculated(rc, state)) return;
    const quarel::GridLevel& l = rc.level();
    const quarel::FreeStream& f = rc.freeStream();
    const double circ = quarel::Circulation(l.NX, l.k);
    quarel::Row row;
    double sum = 0.0;
    for (auto _ : state) {
        for (int i = 1; i <= l.NX - 1; ++i)
            quarel::JFaceDensities(i, l.NY, f.mach, f.gamma, f.sin2Sweep);
        for (int j = 1; j <= l.NY - 1; ++j)
            quarel::IFaceDensities(j, l.k, l.NX, circ, f.mach, f.gamma, f.sin2Sweep);
        for (int j = 2; j <= l.NY - 1; ++j)
            for (int i = 1; i <= l.NX - 1; ++i) {
                quarel::InteriorRow(l.NX, l.NY, i, j, row);
                sum += row.res;
            }
        for (int i = 1; i <= l.k - 1; ++i) {
            quarel::WakeRow(i, l.NX, l.k, circ, row);
            sum += row.res;
        }
        for (int i = l.k; i <= l.NX - l.k; ++i) {
            quarel::BodyRow(i, l.NX, l.k, 0, 0, 0, row);
            sum += row.res;
        }
    }
    benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_Residual)->Unit(benchmark::kMillisecond);

// The NACA 0012 sample as shipped (256 x 41, Kgrid 4, Max.residual 1e-7)
// at M 0.75, opened in the scratch directory.
void openSample(quarel::RunControl& rc) {
    quarel::msg::setQuiet(true);
    static const fs::path dir = fs::temp_directory_path() / "quarel-bench";
    fs::create_directories(dir);
    fs::current_path(dir);
    fs::copy_file(fs::path(QUAREL_SOURCE_DIR) / "examples" / "naca0012.dat", dir / "polar.dat",
                  fs::copy_options::overwrite_existing);
    rc.open((dir / "polar.dat").string());
    rc.job.mach = 0.75;
}

// A point of a polar on the sample grid: alpha alternates between 1 and
// 1.5 degrees, each point from the free stream (argument 0) or continued
// from the converged point before (argument 1), as a sweep runs them.
void BM_PolarPoint(benchmark::State& state) {
    quarel::RunControl rc;
    openSample(rc);
    rc.job.alpha = 1.0;
    rc.calculate();
    bool high = false;
    for (auto _ : state) {
        high = !high;
        rc.job.alpha = high ? 1.5 : 1.0;
        rc.setWarmStart(state.range(0) == 1 && rc.converged());
        rc.flowChanged();
        if (!calculated(rc, state)) return;
    }
    state.counters["fine_steps"] = rc.status().iterCount;
    state.counters["Clift"] = rc.results.clift;
    state.counters["converged"] = rc.converged() ? 1 : 0;
}
BENCHMARK(BM_PolarPoint)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(8);

// One design global iteration on the sample grid at M 0.75 (the design
// run and the analysis of the new section), from the second on: the
// target is the Cp of the section at 1.5 degrees, designed at 1 degree.
void BM_DesignIteration(benchmark::State& state) {
    quarel::RunControl rc;
    openSample(rc);
    try {
        rc.job.alpha = 1.5;
        rc.calculate();
        const int NX = rc.level().NX;
        std::vector<double> target(quarel::cpf.data(), quarel::cpf.data() + NX + 1);
        rc.job.alpha = 1.0;
        rc.flowChanged();
        rc.calculate();
        std::copy(target.begin(), target.end(), quarel::cps.data());
        rc.acceptTarget();
        rc.calculate();
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    for (auto _ : state) {
        if (!calculated(rc, state)) return;
    }
    state.counters["design_steps"] = rc.lastDesign().designSteps;
    state.counters["fine_steps"] = rc.status().iterCount;
    state.counters["Cp_deviation"] = rc.results.cpDeviation;
    state.counters["converged"] = rc.converged() ? 1 : 0;
}
BENCHMARK(BM_DesignIteration)->Unit(benchmark::kMillisecond)->Iterations(4);

}  // namespace

BENCHMARK_MAIN();
