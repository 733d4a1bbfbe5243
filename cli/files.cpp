// The safe replacement of output files and the checks of standard output, on POSIX descriptors
// (the C runtime's on Windows).
#include "cli/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/cell.hpp"

namespace cli {
namespace {

namespace fs = std::filesystem;

// Temporary files that a signal must not leave behind: fixed storage, as a handler may not
// allocate. A slot is free (0), being written (1) or holds a path (2).
constexpr std::size_t slots = 8, longestPath = 4096;
std::array<std::array<char, longestPath>, slots> pending{};
std::array<std::atomic<int>, slots> state{};

extern "C" void removePendingAndDie(int signal) {
    for (std::size_t i = 0; i < slots; ++i) {
        if (state[i].load() == 2) {
#ifdef _WIN32
            ::_unlink(pending[i].data());
#else
            ::unlink(pending[i].data());
#endif
        }
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

int remember(const std::string& path) {
    static const bool installed = [] {
        std::signal(SIGINT, removePendingAndDie);
        std::signal(SIGTERM, removePendingAndDie);
        return true;
    }();
    (void)installed;
    if (path.size() >= longestPath) return -1;
    for (std::size_t i = 0; i < slots; ++i) {
        int expected = 0;
        if (state[i].compare_exchange_strong(expected, 1)) {
            std::memcpy(pending[i].data(), path.c_str(), path.size() + 1);
            state[i].store(2);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void forget(int slot) {
    if (slot >= 0) state[static_cast<std::size_t>(slot)].store(0);
}

// The file a path finally names, following symbolic links (also dangling ones, whose target is
// then created).
fs::path resolve(const fs::path& path) {
    fs::path current = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(current, error))) return current;
        const fs::path target = fs::read_symlink(current, error);
        if (error) return current;
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current;
}

int openExclusive(const std::string& path, int mode) {
#ifdef _WIN32
    return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                   mode & 0600 ? _S_IREAD | _S_IWRITE : _S_IWRITE);
#else
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
#endif
}

}  // namespace

SafeReplace::SafeReplace(const std::string& target) : target_(target) {
    const fs::path resolved = resolve(fs::path(target));
    resolved_ = resolved.string();
    struct stat info {};
    int mode = 0644;
    bool existed = false;
    if (::stat(resolved_.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            throw InputError(target + ": is a folder; give a file to write the computed sheet to");
        if (!S_ISREG(info.st_mode)) {
            // A device or a pipe (/dev/stdout, a FIFO) is written as it is: it cannot be replaced.
#ifdef _WIN32
            descriptor_ = ::_open(resolved_.c_str(), _O_WRONLY | _O_BINARY);
#else
            descriptor_ = ::open(resolved_.c_str(), O_WRONLY | O_CLOEXEC);
#endif
            if (descriptor_ < 0) fail("cannot write the file", errno);
            direct_ = true;
            return;
        }
        mode = static_cast<int>(info.st_mode & 0777);
        existed = true;
    }
    const fs::path folder = resolved.has_parent_path() ? resolved.parent_path() : fs::path(".");
    std::random_device device;
    std::mt19937_64 random((static_cast<std::uint64_t>(device()) << 32) ^ device());
    for (int attempt = 0; attempt < 100 && descriptor_ < 0; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
        std::string name = ".";
        name.append(resolved.filename().string()).append(".").append(suffix).append(".tmp");
        const std::string candidate = (folder / name).string();
        descriptor_ = openExclusive(candidate, mode);
        if (descriptor_ >= 0) {
            temporary_ = candidate;
        } else if (errno != EEXIST) {
            fail("cannot create a temporary file in its folder", errno);
        }
    }
    if (descriptor_ < 0) fail("cannot create a temporary file in its folder", EEXIST);
    slot_ = remember(temporary_);
#ifndef _WIN32
    // The creation mode passed the umask; an existing target's mode is kept exactly.
    if (existed && ::fchmod(descriptor_, static_cast<mode_t>(mode)) != 0) fail("cannot set the file's mode", errno);
#else
    (void)existed;
#endif
}

SafeReplace::~SafeReplace() {
    if (!committed_) discard();
}

void SafeReplace::discard() noexcept {
    if (descriptor_ >= 0) {
#ifdef _WIN32
        ::_close(descriptor_);
#else
        ::close(descriptor_);
#endif
        descriptor_ = -1;
    }
    if (!temporary_.empty()) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
    }
    forget(slot_);
    slot_ = -1;
}

void SafeReplace::fail(const std::string& what, int error) {
    discard();
    committed_ = true;  // nothing left to remove
    throw SystemError(target_ + ": " + what + ": " + std::strerror(error));
}

void SafeReplace::write(std::string_view bytes) {
    while (!bytes.empty()) {
#ifdef _WIN32
        const int written =
            ::_write(descriptor_, bytes.data(), static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1u << 30)));
#else
        const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
#endif
        if (written < 0) {
            if (errno == EINTR) continue;
            fail("cannot write the file", errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void SafeReplace::commit() {
#ifdef _WIN32
    if (!direct_ && ::_commit(descriptor_) != 0) fail("cannot write the file", errno);
    const int closed = ::_close(descriptor_);
#else
    if (!direct_ && ::fsync(descriptor_) != 0) fail("cannot write the file", errno);
    const int closed = ::close(descriptor_);
#endif
    descriptor_ = -1;
    if (closed != 0) fail("cannot write the file", errno);
    if (direct_) {
        committed_ = true;
        return;
    }
    std::error_code error;
    fs::rename(temporary_, resolved_, error);
    if (error) fail("cannot replace the file", error.value());
    forget(slot_);
    slot_ = -1;
    committed_ = true;
#ifndef _WIN32
    // The rename itself reaches the disk with the folder.
    const fs::path folder = fs::path(resolved_).has_parent_path() ? fs::path(resolved_).parent_path() : fs::path(".");
    const int directory = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC);
    if (directory >= 0) {
        ::fsync(directory);
        ::close(directory);
    }
#endif
}

void refuseOverwritingInputs(const std::string& output, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        if (input == "-") continue;
        std::error_code error;
        if (fs::equivalent(output, input, error) && !error) {
            throw InputError(output + ": is the input sheet " + input +
                             ", which the computed sheet would replace; write it to another file");
        }
    }
}

void closeStandardOutput() {
    std::cout.flush();
    errno = 0;
    const bool flushed = std::cout.good() && std::fflush(stdout) == 0 && !std::ferror(stdout);
    int error = errno;
#ifdef _WIN32
    const bool closed = flushed && ::_close(1) == 0;
#else
    const bool closed = flushed && (::close(1) == 0 || errno == EBADF);
#endif
    if (flushed && !closed) error = errno;
    if (!flushed || !closed)
        throw SystemError(std::string("the standard output: cannot write: ") +
                          (error ? std::strerror(error) : "write failed"));
}

}  // namespace cli
