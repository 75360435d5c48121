// Runs one platform operation in a process of its own, for the cross-process
// tests.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ovplatform/platform.h"

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0) {
        std::printf("usage: platform_test_child COMMAND ARGS...\n");
        return argc < 2 ? 2 : 0;
    }
    return 2;
}
