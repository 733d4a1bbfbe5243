// The texts that tell a user which build of the add-in is loaded and who publishes it.
#include <string>

#include "functions/worksheet_functions.hpp"

namespace Korvanth {

std::string getVersion() { return std::string("Korvanth - Tavirune, Version 1.3.6 (30.04.2015)"); }

std::string getInfo() {
    return std::string(
        "Korvanth Tavirune is published by Korvanth: worksheet functions for the validation of "
        "rating systems and scoring models");
}

}  // namespace Korvanth
