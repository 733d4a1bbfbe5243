// The command line of `tavirune`: functions, eval and calc, with every message and exit status.
// The host that loads the add-in comes from the caller, so that the commands run in tests too.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "cli/workbook.hpp"

namespace cli {

// Loads the add-in at the path; throws std::exception with a clear text when it cannot.
using AddinLoader = std::function<std::unique_ptr<FunctionTable>(const std::string& path)>;

struct Environment {
    AddinLoader loadAddin;
    std::string defaultAddin;  // used when neither --addin nor TAVIRUNE_XLL names one
    bool progress = false;     // standard error is a terminal: a long calculation shows how far it is
};

// Runs one command line. Output goes to `out` only when the whole command succeeded; messages go
// to `err`. Returns 0 on success, 2 on bad input of any kind, 1 when a write failed or memory ran
// out.
int runCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
               const Environment& environment);

}  // namespace cli
