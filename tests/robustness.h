// What the long-running robustness tests share: their size and seed from the command line
// (--name=value) or the environment, and a seeded generator that gives the same sequence on every
// compiler and architecture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kivtest {

inline std::uint64_t Parameter(const char* option, const char* variable, std::uint64_t fallback) {
    const std::string prefix = std::string("--") + option + "=";
    for (int i = 1; i < __argc; ++i) {
        if (__argv[i] && std::strncmp(__argv[i], prefix.c_str(), prefix.size()) == 0)
            return std::strtoull(__argv[i] + prefix.size(), nullptr, 0);
    }
    if (const char* value = std::getenv(variable); value && *value) return std::strtoull(value, nullptr, 0);
    return fallback;
}

// splitmix64.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t Below(std::uint32_t n) { return n ? static_cast<std::uint32_t>(Next() % n) : 0; }
    bool Chance(std::uint32_t percent) { return Below(100) < percent; }
    template <class T, std::size_t N>
    const T& Pick(const T (&items)[N]) {
        return items[Below(N)];
    }

private:
    std::uint64_t state_;
};

}  // namespace kivtest
