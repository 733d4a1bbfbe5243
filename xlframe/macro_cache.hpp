// Lists of actions that the lifecycle entry points run: one list each for opening, closing and
// removing the add-in, reached through singleton.
//
//   struct Banner : xlframe::MacroAction { void execute() override { ... } };
//   static Banner banner;
//   xlframe::singleton<xlframe::MacroCache<xlframe::Open>>::instance().add(&banner);
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

namespace xlframe {

// Tags of the three lists.
struct Open {};
struct Close {};
struct Remove {};

class MacroAction {
public:
    virtual ~MacroAction() = default;
    virtual void execute() = 0;
};

template <class Tag>
class MacroCache {
public:
    // The action is not owned and must outlive its place in the list.
    void add(MacroAction* action) {
        if (action == nullptr) return;
        std::lock_guard<std::mutex> lock(mutex_);
        actions_.push_back(action);
    }

    void remove(MacroAction* action) {
        std::lock_guard<std::mutex> lock(mutex_);
        std::erase(actions_, action);
    }

    std::size_t size() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return actions_.size();
    }

    // Runs every action in the order added. The list is copied first, so an action may add or
    // remove actions (they take effect on the next run) and an exception ends the run.
    void ExecuteMacros() const {
        std::vector<MacroAction*> actions;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            actions = actions_;
        }
        for (MacroAction* action : actions) action->execute();
    }

private:
    mutable std::mutex mutex_;
    std::vector<MacroAction*> actions_;
};

}  // namespace xlframe
