// SPDX-License-Identifier: MIT
// Loading and unloading the layer without calling it must leave every line as it was: the
// library runs nothing of its own. This program is not linked to the layer; it loads it by path.

#include <dlfcn.h>

#include <cstdio>

#include "vboard/board.hpp"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s LIBRARY\n", argv[0]);
        return 2;
    }
    vboard::Board &board = vboard::default_board();
    void *handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        std::fprintf(stderr, "dlopen failed: %s\n", dlerror());
        return 1;
    }
    if (dlsym(handle, "DEV_ModuleInit") == nullptr) {
        std::fprintf(stderr, "DEV_ModuleInit is not exported\n");
        return 1;
    }
    dlclose(handle);
    if (board.call_count() != 0) {
        std::fprintf(stderr, "loading the layer made %zu wiringPi calls\n", board.call_count());
        return 1;
    }
    if (board.function(vboard::kSpiSclk) != vboard::Function::Alt0 || board.level(18)) {
        std::fprintf(stderr, "loading the layer changed a line\n");
        return 1;
    }
    std::puts("load and unload: no call, no line touched");
    return 0;
}
