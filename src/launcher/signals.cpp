#include "launcher/signals.h"

#include <csignal>

namespace quorbix {

namespace {

// Does nothing: its only work is to keep SIGXFSZ from ending the run.
void on_file_size_limit(int /*signal*/) {}

}  // namespace

void reset_signal_state() {
    sigset_t none;
    sigemptyset(&none);
    static_cast<void>(::sigprocmask(SIG_SETMASK, &none, nullptr));
    // Every number up to NSIG, the real-time signals included; those the C
    // library or an emulator keeps for itself refuse, and are passed over.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction now {};
        if (sig == SIGPIPE || ::sigaction(sig, nullptr, &now) != 0 || now.sa_handler != SIG_IGN) {
            continue;
        }
        struct sigaction reset {};
        reset.sa_handler = SIG_DFL;
        sigemptyset(&reset.sa_mask);
        static_cast<void>(::sigaction(sig, &reset, nullptr));
    }
    struct sigaction size_limit {};
    size_limit.sa_handler = on_file_size_limit;
    sigemptyset(&size_limit.sa_mask);
    size_limit.sa_flags = SA_RESTART;
    static_cast<void>(::sigaction(SIGXFSZ, &size_limit, nullptr));
}

}  // namespace quorbix
