// SPDX-License-Identifier: MIT
// wiringPi's thread calls: a thread of the process's own, four locks, and a priority that the
// board does not change. None of them touches the board, so none is in the call log.

#include <wiringPi.h>

#include <pthread.h>

#include <array>
#include <mutex>

#include "vboard/export.h"

namespace {

std::array<std::mutex, 4> g_locks;  // piLock's keys 0 to 3

}  // namespace

extern "C" {

VBOARD_EXPORT int piThreadCreate(void *(*fn)(void *)) {
    if (fn == nullptr) {
        return -1;
    }
    pthread_t thread;
    if (const int error = pthread_create(&thread, nullptr, fn, nullptr); error != 0) {
        return error;
    }
    return pthread_detach(thread);
}

VBOARD_EXPORT void piLock(int key) { g_locks[static_cast<unsigned>(key) & 3U].lock(); }

VBOARD_EXPORT void piUnlock(int key) { g_locks[static_cast<unsigned>(key) & 3U].unlock(); }

VBOARD_EXPORT int piHiPri(const int pri) {
    static_cast<void>(pri);
    return 0;
}

}  // extern "C"
