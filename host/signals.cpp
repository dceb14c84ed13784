#include "signals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "messages.h"

namespace {

constexpr int kSlots = 4;
char s_names[kSlots][4096];
std::atomic<bool> s_held[kSlots];

// Every signal whose default action ends the process and that a user or
// the system may send to a running talveron.
const int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGPIPE, SIGXFSZ,
                              SIGXCPU, SIGALRM, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2};

std::atomic<bool> s_holding{false};
std::atomic<int> s_held_signal{0};

void CleanUpAndDie(int signal) {
    if (s_holding.load()) {
        s_held_signal.store(signal);
        return;
    }
    for (int slot = 0; slot < kSlots; ++slot)
        if (s_held[slot].load()) ::unlink(s_names[slot]);
    EraseStatusOnSignal();
    std::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

void InstallSignalHandlers() {
    for (int signal : kEndingSignals) {
        struct sigaction before;
        if (::sigaction(signal, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
        struct sigaction action = {};
        action.sa_handler = CleanUpAndDie;
        sigfillset(&action.sa_mask);  // one clean-up at a time
        ::sigaction(signal, &action, nullptr);
    }
}

int HoldTemporary(const char* path) {
    if (std::strlen(path) >= sizeof s_names[0]) return -1;
    for (int slot = 0; slot < kSlots; ++slot) {
        if (s_held[slot].load()) continue;
        std::strcpy(s_names[slot], path);
        s_held[slot].store(true);
        return slot;
    }
    return -1;
}

void ReleaseTemporary(int slot) {
    if (slot >= 0 && slot < kSlots) s_held[slot].store(false);
}

void HoldEndingSignals() { s_holding.store(true); }

void ReleaseEndingSignals() {
    s_holding.store(false);
    if (int signal = s_held_signal.exchange(0)) CleanUpAndDie(signal);
}
