// Prints a few catalogue texts in both languages, as a smoke check of the installed core.
#include <iostream>

#include "analytics/conversions.hpp"
#include "analytics/error.hpp"
#include "xlframe/cell_matrix.hpp"

int main() {
    for (int language : {1, 0}) {
        Korvanth::currentLanguage = language;
        std::cout << "language " << language << ":\n";
        for (int code : {20004, 20002, 89, 4711}) {
            std::cout << "  " << code << ": " << Korvanth::KorvanthException(code).addArgument("scores").getMessage()
                      << '\n';
        }
    }
    Korvanth::currentLanguage = 1;
    xlframe::CellMatrix range(3, 1);
    range(0, 0) = 1.0;
    range(2, 0) = 2.7;
    try {
        const auto values = Korvanth::cellMatrixToColumnVector(range, "scores");
        std::cout << "column (1, Empty, 2.7) gives " << values.size() << " numbers\n";
        range(1, 0) = "text";
        Korvanth::cellMatrixToColumnVector(range, "scores");
    } catch (const Korvanth::KorvanthException& error) {
        std::cout << "with a text cell: " << error.getMessage() << '\n';
    }
}
