// Appends the add-in's folder to the process's PATH, so that libraries placed beside the add-in
// are found. xlAutoOpen runs it once per process.
#pragma once

namespace xlframe {

class PathUpdater {
public:
    // Does the update; failures are diagnostic lines only, except a failing status-bar call,
    // which throws as every host call does.
    PathUpdater();

    static void Update();
};

}  // namespace xlframe
