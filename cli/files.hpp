// Output files that are never left half-written and never written through someone else's name:
// the new contents go into a temporary file made exclusively, under a unique name, in the
// target's folder (with the target's mode, or 0644 for a new file), are flushed to the disk, and
// replace the target by a rename; every failure, and SIGINT or SIGTERM meanwhile, removes the
// temporary file and leaves the target as it was. A target that is a symbolic link has the file
// it points to replaced; a device or a pipe is written in place. Any writer can use it: bytes through write(), or a
// library that writes by path through temporaryPath().
//
//   cli::SafeReplace file("out.csv");
//   file.write(text);
//   file.commit();   // throws SystemError naming out.csv on any failure
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cli {

class SafeReplace {
   public:
    explicit SafeReplace(const std::string& target);
    ~SafeReplace();  // removes the temporary file unless committed
    SafeReplace(const SafeReplace&) = delete;
    SafeReplace& operator=(const SafeReplace&) = delete;

    const std::string& temporaryPath() const { return temporary_; }
    void write(std::string_view bytes);
    void commit();

   private:
    std::string target_;    // as the user named it, for messages
    std::string resolved_;  // the file that is replaced
    std::string temporary_;
    int descriptor_ = -1;
    int slot_ = -1;  // in the list that the signal handler cleans up
    bool committed_ = false;
    bool direct_ = false;  // a device or pipe, written in place

    [[noreturn]] void fail(const std::string& what, int error);
    void discard() noexcept;
};

// Throws InputError when `output` names the same file as one of `inputs` (also through another
// path or a link), before anything is computed.
void refuseOverwritingInputs(const std::string& output, const std::vector<std::string>& inputs);

// Flushes and closes standard output; throws SystemError naming it when a write failed (a full
// disk, a closed pipe, an I/O error).
void closeStandardOutput();

}  // namespace cli
