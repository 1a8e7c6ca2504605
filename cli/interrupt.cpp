#include "cli/interrupt.h"

#ifdef _WIN32
#include <windows.h>

namespace {

// The console calls its handler on a thread of its own, with nothing but the event.
TemporaryFiles* handlerTemporaries = nullptr;

BOOL WINAPI onConsoleEvent(DWORD) {
    handlerTemporaries->removeAllAndHold();
    // The status a shell gives a program that Ctrl-C ended, 128 + SIGINT, as on Linux.
    ExitProcess(130);
    return TRUE;
}

void removeOnInterrupt(TemporaryFiles& temporaries) {
    handlerTemporaries = &temporaries;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

}  // namespace

#else
#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

void removeOnInterrupt(TemporaryFiles& temporaries) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, &temporaries] {
        int received = 0;
        if (sigwait(&signals, &received) != 0) return;
        temporaries.removeAllAndHold();
        // Ended by the signal itself, so that the caller sees what ended the program.
        std::signal(received, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, received);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        raise(received);
        _exit(128 + received);
    }).detach();
}

}  // namespace

#endif

TemporaryFiles& temporariesRemovedOnInterrupt() {
    // Never destroyed: the interrupt's thread may use it until the process is gone.
    TemporaryFiles& temporaries = *new TemporaryFiles;
    removeOnInterrupt(temporaries);
    return temporaries;
}
