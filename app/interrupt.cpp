#include "interrupt.h"

#include <atomic>
#include <csignal>

namespace {

// The handler may run on a driver's thread, so the note is atomic; lock-free
// makes it safe to store from a signal handler.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction previous_int;
struct sigaction previous_term;

void note(int sig) { caught = sig; }

// A signal ignored when the program started (nohup, a background job of a
// script) stays ignored.
void watch(int sig, const struct sigaction &sa, struct sigaction *previous)
{
    sigaction(sig, nullptr, previous);
    if (previous->sa_handler != SIG_IGN)
        sigaction(sig, &sa, nullptr);
}

} // namespace

void interrupt_watch_begin()
{
    caught = 0;
    struct sigaction sa {};
    sa.sa_handler = note;
    sigemptyset(&sa.sa_mask);
    // Restarted calls keep the cable's I/O going; the handler is used once,
    // so a second signal has its usual effect.
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    watch(SIGINT, sa, &previous_int);
    watch(SIGTERM, sa, &previous_term);
}

void interrupt_watch_end()
{
    sigaction(SIGINT, &previous_int, nullptr);
    sigaction(SIGTERM, &previous_term, nullptr);
}

int interrupt_caught() { return caught; }
