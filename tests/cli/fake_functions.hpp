// A stand-in for the loaded add-in: a few functions whose results are easy to work out by hand.
#pragma once

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
// columns; kinds(a, b, c): a text naming each argument's kind; options(x, [y], [z]): how many
// arguments arrive; version(): a text.
class FakeFunctions : public FunctionTable {
   public:
    FakeFunctions() {
        registrations_ = {
            registration("echo", "values", {" The values "}),
            registration("total", "values", {" The values "}),
            registration("shape", "values", {" The values "}),
            registration("kinds", "a, b, c", {" A ", " B ", " C "}),
            registration("options", "x, y, z", {" X ", " OPTIONAL: y ", " OPTIONAL: z "}),
            registration("version", "", {}),
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
        return scalar(std::string("1.0"));
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

   private:
    std::vector<host::Registration> registrations_;
};

}  // namespace cli::testing
