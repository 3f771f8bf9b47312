// The calling thread's name, as ps -L, top -H and /proc/PID/task/*/comm show
// it, so that a stuck or leftover thread says what it is.
#pragma once

#include <pthread.h>

#include <algorithm>
#include <string>

namespace cnxd {

// `name`, followed by `index` when one is given; the kernel keeps the first
// 15 characters.
inline void name_thread(const char* name, int index = -1)
{
    std::string text = index >= 0 ? name + std::to_string(index) : name;
    text.resize(std::min<size_t>(text.size(), 15));
    pthread_setname_np(pthread_self(), text.c_str());
}

}  // namespace cnxd
