// ./build.sh torture [N]: N installations of an all-or-nothing update killed
// at file operations spread over both phases (alternately one in the building
// phase and one in the replacement phase, each drawn from a fixed-seed
// sequence), every one checked as kill_support.h describes. Prints the
// runs, the kills per phase, the failures and the time; exits 1 on any
// failure.
#include <cstdio>
#include <cstdlib>

#include "kill_support.h"

int main(int argc, char** argv) {
    unsigned runs = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], 0, 10)) : 1000;
    DWORD start = GetTickCount();
    killtest::Product product(true);
    std::string wrong = product.probe();
    if (!wrong.empty()) {
        std::printf("torture: %s\n", wrong.c_str());
        return 1;
    }
    unsigned building = product.commitFrom - 1;
    unsigned replacing = product.checkpoints - product.commitFrom + 1;
    std::printf("torture: a whole run makes %u file operations, %u building and %u replacing\n",
                product.checkpoints, building, replacing);
    unsigned kills[2] = {0, 0}, failures = 0;
    uint32_t seed = 20240601;
    for (unsigned i = 0; i < runs; i++) {
        seed = seed * 1664525 + 1013904223;
        int phase = i % 2;
        unsigned k = phase == 0 ? 1 + (seed >> 8) % building : product.commitFrom + (seed >> 8) % replacing;
        kills[phase]++;
        wrong = product.killAt(k);
        if (!wrong.empty()) {
            if (++failures <= 20) std::printf("torture: run %u: %s\n", i + 1, wrong.c_str());
        }
        if ((i + 1) % 100 == 0) {
            std::printf("torture: %u runs, %u failures, %lu s\n", i + 1, failures,
                        static_cast<unsigned long>((GetTickCount() - start) / 1000));
            std::fflush(stdout);
        }
    }
    std::printf("torture: %u runs (%u killed while building, %u while replacing), %u failures, %lu s\n", runs,
                kills[0], kills[1], failures, static_cast<unsigned long>((GetTickCount() - start) / 1000));
    return failures ? 1 : 0;
}
