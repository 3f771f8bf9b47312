#include "mtd.h"

#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/fd.h"
#include "base/path.h"

namespace {

// A plain file is the sysroot's stand-in; anything else is the kernel's
// device. Its size comes back through `size`.
bool is_stand_in(int fd, off_t* size)
{
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    *size = st.st_size;
    return true;
}

bool in_file(off_t file_size, uint32_t offset, uint32_t len)
{
    return static_cast<off_t>(offset) + static_cast<off_t>(len) <= file_size;
}

int fail(int err)
{
    errno = err;
    return -1;
}

int erase_file(int fd, uint32_t offset, uint32_t len)
{
    std::array<uint8_t, 4096> erased;
    erased.fill(0xFF);
    while (len > 0) {
        const size_t n = std::min<size_t>(len, erased.size());
        const ssize_t w = pwrite(fd, erased.data(), n, offset);
        if (w <= 0)
            return -1;
        offset += static_cast<uint32_t>(w);
        len -= static_cast<uint32_t>(w);
    }
    return 0;
}

// The bad-block file of a stand-in lists `offset`.
bool listed_bad(const char* path, uint32_t offset)
{
    cnxd::FileLines in(std::string(path) + ".bad");
    for (std::string line; in.next(line);) {
        char* end = nullptr;
        const unsigned long long listed = std::strtoull(line.c_str(), &end, 0);
        if (end != line.c_str() && listed == offset)
            return true;
    }
    return false;
}

// MEMUNLOCK or MEMERASE over the range; an unsupported unlock is done.
int range_ioctl(int fd, unsigned long request, uint32_t offset, uint32_t len)
{
    erase_info_user range{offset, len};
    if (ioctl(fd, request, &range) == 0)
        return 0;
    return request == MEMUNLOCK && errno == EOPNOTSUPP ? 0 : -1;
}

}  // namespace

extern "C" {

int mtd_find(const char* name, mtd_partition* part)
{
    if (!name || !*name || !part)
        return -1;
    cnxd::FileLines in(cnxd::cnxd_sysroot_path(MTD_LIST_PATH));
    const std::string prefix = std::string(name) + ":";
    for (std::string line; in.next(line);) {
        if (!line.starts_with(prefix))
            continue;
        unsigned size = 0;
        unsigned erasesize = 0;
        if (std::sscanf(line.c_str() + prefix.size(), "%x %x", &size, &erasesize) != 2 || size == 0 ||
            erasesize == 0)
            return -1;
        *part = {size, erasesize};
        return 0;
    }
    return -1;
}

int mtd_unlock(int fd, uint32_t offset, uint32_t len)
{
    off_t size = 0;
    if (is_stand_in(fd, &size))
        return in_file(size, offset, len) ? 0 : fail(EINVAL);
    return range_ioctl(fd, MEMUNLOCK, offset, len);
}

int mtd_erase(int fd, uint32_t offset, uint32_t len)
{
    off_t size = 0;
    if (is_stand_in(fd, &size))
        return in_file(size, offset, len) ? erase_file(fd, offset, len) : fail(EINVAL);
    return range_ioctl(fd, MEMERASE, offset, len);
}

int mtd_block_is_bad(int fd, const char* path, uint32_t offset)
{
    off_t size = 0;
    if (is_stand_in(fd, &size))
        return path && listed_bad(path, offset) ? 1 : 0;
    loff_t at = offset;
    const int bad = ioctl(fd, MEMGETBADBLOCK, &at);
    if (bad >= 0)
        return bad > 0 ? 1 : 0;
    return errno == EOPNOTSUPP ? 0 : -1;
}

}  // extern "C"
