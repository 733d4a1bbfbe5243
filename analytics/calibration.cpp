// Calibration sums, each term in the order of the debtors (or grades, or cells row by row).
#include "analytics/calibration.hpp"

#include "analytics/matrix.hpp"
#include "xlframe/numeric.hpp"

namespace Korvanth::Calibration {

Grades grades(std::span<const double> pd, std::span<const int> defaults, std::span<const int> survivals) {
    Grades g;
    for (std::size_t i = 0; i < pd.size(); ++i) {
        const std::int64_t size = std::int64_t{defaults[i]} + survivals[i];
        const double d = defaults[i];
        const double s = survivals[i];
        const double m = static_cast<double>(size);
        const double pq = pd[i] * (1.0 - pd[i]);
        const double skew = 1.0 - 2.0 * pd[i];
        g.debtors += size;
        g.sums.squaredErrors += d * (1.0 - pd[i]) * (1.0 - pd[i]) + s * pd[i] * pd[i];
        g.sums.expected += m * pq;
        g.sums.variance += m * pq * skew * skew;
        if (size == 0) continue;
        if (pq > 0) {
            const double gap = pd[i] - d / m;
            g.hosmerLemeshow += m * gap * gap / pq;
            ++g.freeGrades;
        } else if ((pd[i] == 0.0 && defaults[i] != 0) || (pd[i] == 1.0 && survivals[i] != 0)) {
            g.contradicted = true;
        }
    }
    return g;
}

Redelmeier redelmeier(std::span<const double> p, std::span<const double> q, std::span<const int> indicators) {
    Redelmeier sums;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const double pi = p[i];
        const double qi = q[i];
        const double yi = indicators[i];
        const double gap = pi - qi;
        sums.squaredErrors1 += (yi - pi) * (yi - pi);
        sums.squaredErrors2 += (yi - qi) * (yi - qi);
        sums.expected1 += pi * (1.0 - pi);
        sums.expected2 += qi * (1.0 - qi);
        sums.difference += (pi * pi - qi * qi) - 2.0 * gap * yi;
        sums.variance += (pi + qi) * gap * gap * (2.0 - pi - qi);
    }
    return sums;
}

Redelmeier redelmeier(std::span<const double> pd, const Matrix& defaults, const Matrix& survivals,
                      std::int64_t& debtors) {
    Redelmeier sums;
    debtors = 0;
    const std::size_t k = pd.size();
    for (std::size_t u = 0; u < k; ++u) {
        const double q = pd[u];
        for (std::size_t v = 0; v < k; ++v) {
            const std::int32_t dv = xlframe::truncateToInt32(defaults(u, v));
            const std::int32_t sv = xlframe::truncateToInt32(survivals(u, v));
            const std::int64_t size = std::int64_t{dv} + sv;
            const double p = pd[v];
            const double d = dv;
            const double s = sv;
            const double m = static_cast<double>(size);
            const double gap = p - q;
            debtors += size;
            sums.squaredErrors1 += s * p * p + d * (1.0 - p) * (1.0 - p);
            sums.squaredErrors2 += s * q * q + d * (1.0 - q) * (1.0 - q);
            sums.expected1 += m * p * (1.0 - p);
            sums.expected2 += m * q * (1.0 - q);
            sums.difference += (p * p - q * q) * m - 2.0 * gap * d;
            sums.variance += m * gap * gap * (p + q) * (2.0 - p - q);
        }
    }
    return sums;
}

}  // namespace Korvanth::Calibration
