// Bounds and settings the environment may override, for tests and host runs
// that cannot wait as long as the router does.
#pragma once

#include <cstdlib>

namespace cnxd {

// The environment variable `name` as a number of milliseconds from 0 to one
// hour, or `fallback` when it is unset or anything else.
inline int env_millis(const char* name, int fallback)
{
    const char* env = std::getenv(name);
    if (!env || !*env)
        return fallback;
    char* end = nullptr;
    const long ms = std::strtol(env, &end, 10);
    return *end == '\0' && ms >= 0 && ms <= 3600000 ? static_cast<int>(ms) : fallback;
}

}  // namespace cnxd
