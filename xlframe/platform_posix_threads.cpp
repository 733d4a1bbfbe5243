// Thread services and the code-page conversion of the platform layer on POSIX systems.
#if !defined(_WIN32)

#include <pthread.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <new>
#include <stdexcept>
#include <string>

#include "xlframe/platform.hpp"
#include "xlframe/utf.hpp"

namespace xlframe::platform {

// --- Thread identities -----------------------------------------------------------------------
//
// The kernel's thread id, as on Windows, so that a stand-in host sees the same numbers. The
// kernel hands a number out again only after the whole id space has wrapped, so an id stays its
// thread's for far longer than any arena lives. Liveness is asked of /proc: a thread that has
// ended has no entry under /proc/self/task. Where /proc cannot be read the answer is "alive": an
// arena kept too long costs memory, one freed under a live thread would be a crash.

ThreadId currentThreadId() { return static_cast<ThreadId>(::syscall(SYS_gettid)); }

bool isThreadAlive(ThreadId thread) {
    struct stat info;
    if (::stat("/proc/self/task", &info) != 0) return true;
    const std::string entry = "/proc/self/task/" + std::to_string(thread);
    return ::stat(entry.c_str(), &info) == 0;
}

// --- Thread-local slot -----------------------------------------------------------------------

static_assert(sizeof(pthread_key_t) <= sizeof(std::uintptr_t));

TlsSlot::TlsSlot() : key_(0) {
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) throw std::runtime_error("no thread-local storage slot left");
    key_ = static_cast<std::uintptr_t>(key);
}

TlsSlot::~TlsSlot() { (void)pthread_key_delete(static_cast<pthread_key_t>(key_)); }

void* TlsSlot::get() const { return pthread_getspecific(static_cast<pthread_key_t>(key_)); }

void TlsSlot::set(void* value) const { (void)pthread_setspecific(static_cast<pthread_key_t>(key_), value); }

// --- Lock ------------------------------------------------------------------------------------

namespace {
static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 16,
              "the lock's storage must hold a pthread mutex");

pthread_mutex_t* mutexIn(unsigned char* storage) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}
}  // namespace

Lock::Lock() : storage_{} {
    auto* mutex = new (storage_) pthread_mutex_t;
    (void)pthread_mutex_init(mutex, nullptr);
}

Lock::~Lock() { (void)pthread_mutex_destroy(mutexIn(storage_)); }

void Lock::lock() { (void)pthread_mutex_lock(mutexIn(storage_)); }

void Lock::unlock() { (void)pthread_mutex_unlock(mutexIn(storage_)); }

// --- Code page -------------------------------------------------------------------------------
// The POSIX "ANSI code page" is UTF-8.

std::u16string ansiToWide(const std::string& ansi) {
    const std::wstring wide = utf8ToUtf16(ansi);
    std::u16string out(wide.size(), u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) out[i] = static_cast<char16_t>(wide[i] & 0xFFFF);
    return out;
}

std::string wideToAnsi(const std::u16string& wide) {
    std::wstring units(wide.size(), L'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) units[i] = static_cast<wchar_t>(wide[i]);
    return utf16ToUtf8(units);
}

}  // namespace xlframe::platform

#endif  // !_WIN32
