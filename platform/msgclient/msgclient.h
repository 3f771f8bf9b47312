/*
 * msgclient.h - C interface of the platform's message-client library,
 * through which a program reaches another daemon of the router (the
 * modem supervisor "mdmwatch" among them).
 *
 * This stand-in delivers each message as one datagram to the Unix socket
 * "/var/run/msgsrv/<name>" (under the sysroot on a host), where <name> is
 * the name the client was set up with; whoever binds that socket reads
 * what was sent. A message is a 16-bit id and a 16-bit payload length,
 * both big-endian, then the payload.
 */
#ifndef MSGCLIENT_H
#define MSGCLIENT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Sets up a client of the daemon known as `name`. `mode`, `flags` and
 * `max_len` are the library's and not looked at here. Returns a handle, or
 * -1 when nobody listens under that name. */
int common_client_init(const char* name, int mode, int flags, int max_len);
/* Sends message `id` with `len` payload bytes. 0, or -1. */
int common_client_send_hci(int handle, uint16_t id, const void* payload, uint16_t len);
/* Ends the client. */
void common_client_exit(int handle);

#ifdef __cplusplus
}
#endif

#endif /* MSGCLIENT_H */
