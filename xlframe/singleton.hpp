// Process-wide single instances, created on first use.
#pragma once

namespace xlframe {

template <class T>
class singleton {
public:
    static T& instance() {
        static T object;  // thread-safe initialisation
        return object;
    }
};

}  // namespace xlframe
