// A stand-in for the loaded add-in: a few functions whose results are easy to work out by hand.
#pragma once

#include <cmath>
#include <stdexcept>
#include <variant>

#include "cli/workbook.hpp"

namespace cli::testing {

inline host::Registration registration(std::string name, std::string arguments, std::vector<std::string> help) {
    host::Registration r;
    r.name = "Korvanth.Tavirune." + std::move(name);
    r.argumentText = std::move(arguments);
    r.category = "Korvanth Tavirune";
    r.description = " A test function ";
    r.argumentHelp = std::move(help);
    return r;
}

// echo(values): the range itself; total(values): the sum of its numbers; shape(values): rows and
// columns; fill(rows, columns, value): a block; kinds(a, b, c): a text naming each argument's kind;
// options(x, [y], [z]); version(): a text; failing(x): the host throws.
class FakeFunctions : public FunctionTable {
   public:
    FakeFunctions() {
        registrations_ = {
            registration("echo", "values", {" The values "}),
            registration("total", "values", {" The values "}),
            registration("shape", "values", {" The values "}),
            registration("fill", "rows, columns, value", {" Rows ", " Columns ", " Value "}),
            registration("kinds", "a, b, c", {" A ", " B ", " C "}),
            registration("options", "x, y, z", {" X ", " OPTIONAL: y ", " OPTIONAL: z "}),
            registration("version", "", {}),
            registration("failing", "x", {" X "}),
        };
    }
    const std::vector<host::Registration>& registrations() const override { return registrations_; }

    host::Table call(const host::Registration& function, const std::vector<host::Argument>& arguments) const override {
        const std::string name = function.name.substr(functionPrefix.size());
        if (arguments.size() != argumentNames(function).size()) throw std::logic_error("argument count");
        if (name == "echo") return table(arguments[0]);
        if (name == "total") {
            double sum = 0;
            for (const auto& cell : table(arguments[0]).cells) {
                if (const double* number = std::get_if<double>(&cell)) sum += *number;
            }
            return scalar(sum);
        }
        if (name == "shape") {
            const host::Table t = table(arguments[0]);
            host::Table result(1, 2);
            result.at(0, 0) = static_cast<double>(t.rows);
            result.at(0, 1) = static_cast<double>(t.columns);
            return result;
        }
        if (name == "fill") {
            const auto rows = static_cast<std::size_t>(number(arguments[0]));
            const auto columns = static_cast<std::size_t>(number(arguments[1]));
            host::Table result(rows, columns);
            for (auto& cell : result.cells)
                cell = arguments[2].kind == host::Argument::Kind::Scalar ? arguments[2].scalar : host::Value{};
            return result;
        }
        if (name == "kinds") {
            std::string text;
            for (const auto& argument : arguments) {
                text += argument.kind == host::Argument::Kind::Range    ? "R"
                        : argument.kind == host::Argument::Kind::Scalar ? "S"
                                                                        : "M";
            }
            return scalar(text);
        }
        if (name == "options") return scalar(static_cast<double>(arguments.size()));
        if (name == "version") return scalar(std::string("1.0"));
        throw std::runtime_error("the entry point crashed");
    }

    static host::Table scalar(host::Value value) {
        host::Table result(1, 1);
        result.at(0, 0) = std::move(value);
        return result;
    }
    static host::Table table(const host::Argument& argument) {
        if (argument.kind == host::Argument::Kind::Range) return argument.table();
        return scalar(argument.scalar);
    }
    static double number(const host::Argument& argument) {
        const host::Table t = table(argument);
        const double* value = std::get_if<double>(&t.cells.at(0));
        return value ? *value : 0.0;
    }

   private:
    std::vector<host::Registration> registrations_;
};

}  // namespace cli::testing
