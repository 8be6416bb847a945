// Akima's local interpolation: a piecewise cubic whose slope at each data
// point is a weighted mean of the neighbouring chord slopes, so that the
// curve follows the data without the overshoot of a global spline.  The
// grid generator blends its normal spacings and its grid lines with it.
#include "SRV21.h"

#include <cmath>
#include <string>

#include "fixedformat.h"
#include "message.h"

namespace quarel {

namespace {

// Delivers one fault report.  Unit 6 is the console, which a windowed
// program does not show: the report goes out as a warning, in one piece.
void report(int iu, const std::string& text) {
    if (iu == 6) {
        msg::warning(text);
        return;
    }
    std::string::size_type start = 0;
    while (true) {
        const std::string::size_type end = text.find('\n', start);
        msg::console(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

// The checks of the input, in this order: the report of the first fault,
// or an empty text.  x is 1-based.
std::string inputFault(int L, const double* x, int N) {
    std::string fault;
    if (L < 2) {
        fault = ff::format("(1x/22h  ***  l = 1  or less./)", {});
    } else if (N < 1) {
        fault = ff::format("(1x/22h  ***  n = 0  or less./)", {});
    } else {
        for (int i = 2; i <= L; ++i) {
            if (x[i - 1] < x[i]) continue;
            fault = x[i - 1] > x[i] ? ff::format("(1x/32h  ***  x values out of sequence./)", {})
                                    : ff::format("(1x/26h  ***  identical x values./)", {});
            fault += '\n';
            fault += ff::format("(6h   i =,i7,10x,6hx(i) =,e12.3)", {i, x[i]});
            break;
        }
    }
    if (!fault.empty()) {
        fault += '\n';
        fault += ff::format("(6h   l =,i7,10x,3hn =,i7)", {L, N});
    }
    return fault;
}

// Interval index I of u: X(I-1) <= u < X(I); 1 left of the data, L+1 at or
// right of its last point.  x is 1-based.
int intervalOf(double u, const double* x, int L) {
    if (L == 2) return 2;
    if (u >= x[L]) return L + 1;
    if (u < x[1]) return 1;
    int low = 2, high = L;
    while (true) {
        const int middle = (low + high) / 2;
        if (u < x[middle]) {
            high = middle;
            if (middle <= low) break;
        } else {
            low = middle + 1;
            if (low >= high) break;
        }
    }
    return high;
}

// The cubic of one interval: start abscissa and value, and the power-form
// coefficients of the offset from it.
struct Cubic {
    double xs = 0.0, ys = 0.0, p1 = 0.0, p2 = 0.0, p3 = 0.0;
    double at(double u) const {
        const double d = u - xs;
        return ((p3 * d + p2) * d + p1) * d + ys;
    }
};

// The cubic of interval I (as intervalOf numbers them) from its chord
// slope and its two end slopes.  x, y are 1-based.
Cubic intervalCubic(const double* x, const double* y, int L, int I) {
    const int K = I == 1 ? 2 : (I == L + 1 ? L : I);
    const double x3 = x[K - 1];
    const double y3 = y[K - 1];
    const double a3 = x[K] - x3;
    const double m3 = (y[K] - y3) / a3;
    double m1, m2, m4, m5;
    // Widths of the neighbouring intervals, used only by the
    // extrapolations (a4 left of the data, where K = 2; a2 right of it,
    // where K = L >= 3).  Two points always use the one chord.
    double a2 = a3, a4 = a3;
    if (L == 2) {
        m1 = m2 = m4 = m5 = m3;
    } else {
        if (K == 2) {
            a4 = x[3] - x[2];
            m4 = (y[3] - y[2]) / a4;
            m2 = 2.0 * m3 - m4;
            m1 = 2.0 * m2 - m3;
        } else {
            a2 = x[K - 1] - x[K - 2];
            m2 = (y[K - 1] - y[K - 2]) / a2;
            if (K == L) {
                m4 = 2.0 * m3 - m2;
            } else {
                a4 = x[K + 1] - x[K];
                m4 = (y[K + 1] - y[K]) / a4;
            }
            if (K == 3)
                m1 = 2.0 * m2 - m3;
            else
                m1 = (y[K - 2] - y[K - 3]) / (x[K - 2] - x[K - 3]);
        }
        if (K < L - 1)
            m5 = (y[K + 2] - y[K + 1]) / (x[K + 2] - x[K + 1]);
        else
            m5 = 2.0 * m4 - m3;
    }

    const double t3 = akimaSlope(m1, m2, m3, m4);
    const double t4 = akimaSlope(m2, m3, m4, m5);

    Cubic c;
    double a, m, p, q;
    if (I == 1) {
        // Left of the data: one more interval of the width of the first
        // one, on the extrapolated chord slope m2.
        a = a4;
        c.xs = x3 - a4;
        c.ys = y3 - m2 * a4;
        m = m2;
        const double s = a3 + a4;
        p = 0.5 * (m1 + m2 - (m3 - m4) * (a3 - a4) * a4 / (s * s));
        q = t3;
    } else if (I == L + 1) {
        // Right of the data, mirrored.
        a = a2;
        c.xs = x[L];
        c.ys = y[L];
        m = m4;
        p = t4;
        const double s = a2 + a3;
        q = 0.5 * (m5 + m4 - (m2 - m3) * (a2 - a3) * a2 / (s * s));
    } else {
        a = a3;
        c.xs = x3;
        c.ys = y3;
        m = m3;
        p = t3;
        q = t4;
    }
    c.p1 = p;
    c.p2 = (3.0 * m - 2.0 * p - q) / a;
    c.p3 = (p + q - 2.0 * m) / (a * a);
    return c;
}

}  // namespace

bool AkimaInterp(const int& iu, const int& L, const double* X, const double* Y, const int& N,
                 const double* U, double* V) {
    // 1-based views of the data.
    const double* x = X - 1;
    const double* y = Y - 1;
    const std::string fault = inputFault(L, x, N);
    if (!fault.empty()) {
        report(iu, fault);
        return false;
    }
    Cubic cubic;
    int lastI = -1;
    for (int jo = 0; jo < N; ++jo) {
        const int I = intervalOf(U[jo], x, L);
        if (I != lastI) {
            lastI = I;
            cubic = intervalCubic(x, y, L, I);
        }
        V[jo] = cubic.at(U[jo]);
    }
    return true;
}

}  // namespace quarel
