/*
 * mtd.h - the flash partition (MTD) calls of the diagnostics tool.
 *
 * On the router a flash partition is the character device /dev/mtdN,
 * listed in /proc/mtd, and these calls are the kernel's MTD ioctls
 * (MEMUNLOCK, MEMERASE, MEMGETBADBLOCK). A host sysroot has a file-backed
 * stand-in instead (scripts/mkroot makes one): DIR/dev/mtdN is a plain
 * file of the partition's size, listed in DIR/proc/mtd in the kernel's
 * form. Ioctls fail on a plain file, so on one these calls do what the
 * flash would:
 *   - unlock does nothing and succeeds;
 *   - erase writes 0xFF bytes over the range;
 *   - a block is bad when its offset is listed in the bad-block file
 *     beside the device, "<device path>.bad": one erase-block offset a
 *     line, decimal or 0x-hex, anything after it on the line ignored (a
 *     missing file lists none). Bad blocks still read and write like good
 *     ones; only the query reports them, as the tool asks before it
 *     touches a block.
 * Reads and writes are plain pread and pwrite on both.
 */
#ifndef MTD_H
#define MTD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The kernel's list of partitions, in target form ("dev: size erasesize
 * name" and one "mtdN: SIZE ERASESIZE \"label\"" line each, hex numbers). */
#define MTD_LIST_PATH "/proc/mtd"

typedef struct {
    uint32_t size;      /* bytes of the partition */
    uint32_t erasesize; /* bytes of one erase block */
} mtd_partition;

/* Looks the device `name` ("mtd3") up in MTD_LIST_PATH (under the sysroot
 * on a host). 0 with *part filled, -1 when it is not listed (or the list
 * cannot be read, or its sizes are 0). */
int mtd_find(const char* name, mtd_partition* part);

/* Unlocks, erases `len` bytes from `offset` of the open partition `fd`.
 * 0, or -1 with errno set. An unlock the flash does not support
 * (EOPNOTSUPP, as NAND answers) counts as done. */
int mtd_unlock(int fd, uint32_t offset, uint32_t len);
int mtd_erase(int fd, uint32_t offset, uint32_t len);

/* Whether the erase block at `offset` of the open partition `fd` (opened
 * from `path`, the host path) is marked bad: 1 bad, 0 good, -1 unknown.
 * Flash that keeps no bad-block table (NOR) answers 0. */
int mtd_block_is_bad(int fd, const char* path, uint32_t offset);

#ifdef __cplusplus
}
#endif

#endif /* MTD_H */
