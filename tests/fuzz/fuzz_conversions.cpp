// The range conversions: any table either converts or raises a catalogue error, nothing else.
#include <cstdint>
#include <cstdlib>

#include "analytics/conversions.hpp"
#include "analytics/error.hpp"
#include "tests/fuzz/fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::FuzzInput in(data, size);
    const xlframe::CellMatrix range = in.table();
    const std::uint8_t which = in.byte() % 9;
    try {
        switch (which) {
            case 0: Korvanth::cellMatrixToColumnVector(range, "v"); break;
            case 1: Korvanth::cellMatrixToRowVector(range, "v"); break;
            case 2: Korvanth::cellMatrixToColumnVectorInt(range, "v"); break;
            case 3: Korvanth::cellMatrixToRowVectorInt(range, "v"); break;
            case 4: Korvanth::cellMatrixToColumnVectorString(range, "v"); break;
            case 5: Korvanth::cellMatrixToRowVectorString(range, "v"); break;
            case 6: {
                const auto rows = Korvanth::cellMatrixToMatrix(range, "m");
                for (const auto& row : rows)
                    if (row.size() != rows.front().size()) std::abort();
                break;
            }
            case 7: Korvanth::cellMatrixToDouble(range, "d"); break;
            default: Korvanth::cellMatrixToBool(range, "b"); break;
        }
    } catch (const Korvanth::KorvanthException& error) {
        if (error.getMessage().find("%s") != std::string::npos) std::abort();  // name always filled in
    }
    return 0;
}
