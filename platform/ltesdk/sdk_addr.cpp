// Address words for the 4-byte address fields of records on a 64-bit host
// (see ltesdk.h): small numbers standing for registered addresses.
#include <cstdint>

#if UINTPTR_MAX != 0xffffffffu

#include <algorithm>
#include <mutex>
#include <vector>

#include "ltesdk.h"

namespace {

std::mutex registry_mu;
// Word w stands for slots[w - 1]; a null slot is free.
std::vector<const void*> slots;

}  // namespace

extern "C" {

uint32_t sdk_addr_to_word(const void* addr)
{
    if (!addr)
        return 0;
    std::lock_guard g(registry_mu);
    auto it = std::find(slots.begin(), slots.end(), addr);
    if (it == slots.end())
        it = std::find(slots.begin(), slots.end(), nullptr);
    if (it == slots.end())
        it = slots.insert(slots.end(), nullptr);
    *it = addr;
    return static_cast<uint32_t>(it - slots.begin()) + 1;
}

void* sdk_word_to_addr(uint32_t word)
{
    std::lock_guard g(registry_mu);
    if (word == 0 || word > slots.size())
        return nullptr;
    return const_cast<void*>(slots[word - 1]);
}

void sdk_addr_release(uint32_t word)
{
    std::lock_guard g(registry_mu);
    if (word != 0 && word <= slots.size())
        slots[word - 1] = nullptr;
}

}  // extern "C"

#endif
