// What the tests of Tavirune.xll through the stand-in host share: tables, arguments, a small
// portfolio of obligors and the call of a function by its name.
#pragma once

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/standin_host.hpp"

namespace addin_testing {

using host::Argument;
using host::Blank;
using host::ErrorValue;
using host::Table;
using host::Value;

inline const std::string addin = TAVIRUNE_ADDIN;
inline const std::string prefix = "Korvanth.Tavirune.";

inline Table block(std::size_t rows, std::size_t columns, std::vector<Value> values) {
    Table t(rows, columns);
    t.cells = std::move(values);
    return t;
}
inline Table column(std::vector<Value> values) {
    const std::size_t rows = values.size();
    return block(rows, 1, std::move(values));
}
inline Table one(Value v) { return block(1, 1, {std::move(v)}); }
inline Argument R(Table t) { return Argument::fromRange(std::move(t)); }
inline Argument V(Value v) { return Argument::fromValue(std::move(v)); }
inline Argument M() { return Argument::missing(); }
inline Value T(const char* s) { return std::string(s); }

// Scores, a challenger's scores, PDs of both, defaults, categories and three drivers of n
// obligors, and a grade scale with its counts.
struct Portfolio {
    Table scores, challenger, pds, challengerPds, defaults, categories, drivers;
    Table grades = column({1.0, 2.0, 3.0, 4.0}), gradePds = column({0.3, 0.15, 0.06, 0.02});
    Table gradeDefaults = column({24.0, 11.0, 5.0, 2.0}), gradeSurvivals = column({60.0, 70.0, 90.0, 110.0});
    Table crossDefaults = block(4, 4, {10.0, 3.0, 0.0, 0.0, 2.0, 7.0, 2.0, 0.0, 0.0, 1.0, 3.0, 1.0, 0.0, 0.0, 1.0, 1.0});
    Table crossSurvivals =
        block(4, 4, {30.0, 10.0, 2.0, 0.0, 8.0, 40.0, 12.0, 3.0, 1.0, 9.0, 60.0, 15.0, 0.0, 2.0, 14.0, 90.0});
};

// Cells assigned in place: moving texts through temporaries trips GCC's uninitialised-use
// warning under the sanitizers.
inline Portfolio portfolio(std::size_t n) {
    Portfolio p{Table(n, 1), Table(n, 1), Table(n, 1), Table(n, 1), Table(n, 1), Table(n, 1), Table(n, 3)};
    for (std::size_t i = 0; i < n; ++i) {
        const double score = static_cast<double>((i * 37) % 101) / 10.0;
        const double noise = static_cast<double>((i * 53) % 17) / 17.0;
        const double probability = 1.0 / (1.0 + std::exp(score - 3.0));
        p.scores.at(i, 0) = score;
        p.challenger.at(i, 0) = score + noise - 0.5;
        p.pds.at(i, 0) = std::round(probability * 1000) / 1000;
        p.challengerPds.at(i, 0) = std::round((probability * 0.8 + 0.01) * 1000) / 1000;
        p.defaults.at(i, 0) = noise < probability * 0.9 ? 1.0 : 0.0;
        p.categories.at(i, 0).emplace<std::string>(1, static_cast<char>('A' + (i * 7) % 4));
        p.drivers.at(i, 0) = score;
        p.drivers.at(i, 1) = noise * 10;
        p.drivers.at(i, 2) = static_cast<double>(i % 5);
    }
    return p;
}

struct Call {
    std::string name;  // without the prefix
    std::vector<Argument> arguments;
};

inline Table call(const host::StandInHost& h, const Call& c) {
    const host::Registration* f = h.find(prefix + c.name);
    if (!f) throw std::runtime_error(c.name + " is not registered");
    return h.call(*f, c.arguments);
}

}  // namespace addin_testing
