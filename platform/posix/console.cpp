#include "platform/console.h"

#include "platform/posix/diagnostics.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

namespace tw {

bool watch_interrupts(HWND hwnd, UINT msg, InterruptHook hook, void *context) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    // Blocked here, the signals stay blocked in every thread created from now on, so only the
    // watcher below receives them, synchronously, where posting a message is safe.
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return false;
    std::thread([set, hwnd, msg, hook, context]() {
        for (int count = 1;; ++count) {
            int sig = 0;
            if (sigwait(&set, &sig) != 0) {
                --count;
                continue;
            }
            if (hook) hook(context, count);
            if (!PostMessageA(hwnd, msg, static_cast<WPARAM>(sig), 0)) return;  // window gone
        }
    }).detach();
    return true;
}

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }
bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

void survive_closed_output() { signal(SIGPIPE, SIG_IGN); }

void show_library_diagnostics(bool on) { posix::set_diagnostics_to_stderr(on); }

bool same_file(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace tw
