#pragma once

namespace tavo {

// TAVO_TIME_SCALE: inside a sandbox root, every timer and pause of the
// program takes that share of its length (0.001: a 30-second pause takes
// 30 ms). For the end-to-end tests, the benchmarks and the demo.
class TimeScale {
public:
    static constexpr const char* kVariable = "TAVO_TIME_SCALE";
    // Installs the scaled clock the variable asks for; logs and ignores it
    // outside a sandbox root or when it is no factor in (0, 1].
    static void installFromEnvironment();
};

}  // namespace tavo
