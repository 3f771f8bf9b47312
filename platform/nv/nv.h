/*
 * nv.h - C interface of the platform NV library.
 *
 * The router keeps its non-volatile configuration in numbered NV items.
 * This stand-in keeps each item as a file "/var/nv/item<N>.bin" (under the
 * sysroot on a host), written through at once; a missing file reads as an
 * empty item. The library also keeps a small test console log
 * ("/var/nv/console.log"), a log mask and the write switch of item 1.
 */
#ifndef NV_H
#define NV_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Highest item number. */
enum { NV_ITEM_MAX = 15 };

/* Reads `len` bytes of item `item` from `offset` into `dst`. Returns the
 * number of bytes read (exactly `len`), or -1 when the item, the range or
 * an argument is unusable; `dst` is left alone then. */
int nv_read(int item, void* dst, int offset, int len);
/* Writes `len` bytes from `src` into item `item` at `offset`, growing the
 * item with zero bytes as needed. Returns `len`, or -1 (also while item 1
 * is write-protected, see nv_nv1_write_disable). */
int nv_write(int item, const void* src, int offset, int len);
/* Pushes every item written so far to stable storage. 0, or -1. */
int nv_rsync(void);

/* The log mask: bit 0 logs reads, bit 1 writes (to the console log). */
void nv_set_log_mask(uint32_t mask);
uint32_t nv_get_log_mask(void);

/* Prints the test console log, one line per call of `print` ("%s", line);
 * an empty or missing log prints nothing. */
void nv_test_show_console_log(int (*print)(const char* fmt, ...));

/* Item 1 takes writes only while enabled (the default). */
void nv_nv1_write_enable(void);
void nv_nv1_write_disable(void);

/* Writes the common NV RAM image, every item in turn, to
 * "/var/tmp/cmnnvr.bin". 0, or -1. */
int cmn_nv_ram_flush(void);

#ifdef __cplusplus
}
#endif

#endif /* NV_H */
