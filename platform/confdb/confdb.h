/*
 * confdb.h - C interface of the platform configuration store libraries.
 */
#ifndef CONFDB_H
#define CONFDB_H

#ifdef __cplusplus
extern "C" {
#endif

/* Connects the library to the store; 0 when the store is ready. */
int init_confdb_ex(void);

#ifdef __cplusplus
}
#endif

#endif /* CONFDB_H */
