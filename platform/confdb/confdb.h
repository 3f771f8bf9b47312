/*
 * confdb.h - C interface of the platform configuration store libraries.
 *
 * The store holds the router's settings as a tree of nodes named by words
 * ("config wan lte dhcp"), each with key=value settings. The command-line
 * tool "confdb get WORD... [KEY]" prints a node (or one key) as INI text and
 * "confdb set WORD... KEY VALUE" changes a value; the functions below read
 * such INI text and the store.
 */
#ifndef CONFDB_H
#define CONFDB_H

#ifdef __cplusplus
extern "C" {
#endif

/* Connects the library to the store; 0 when the store can be read. */
int init_confdb_ex(void);

/*
 * Reads `key` of `section` ("" or NULL: the keys before any section) from
 * the INI file `path` into `out`: the value, or `dflt` (NULL: "") when the
 * file or the key is missing, cut to at most `limit` characters plus a
 * terminator, so `out` holds at least limit + 1 bytes. Returns the length
 * of the text put into `out`, or -1 when the file cannot be read or an
 * argument is unusable (`out` then holds the default as far as possible).
 * `path` may be the router's path or one already under the sysroot.
 */
int GetPrivateProfileString(const char* section, const char* key, const char* dflt, char* out,
                            int limit, const char* path);

/*
 * Reads one store value by a slash path whose last component is the key:
 * "/vemo/cm_config/apnprofile/apn1/apn_name" is key "apn_name" of node
 * "vemo cm_config apnprofile apn1". `flags` is reserved (pass 0). `out`
 * holds 256 bytes; longer values are cut. 0 when the key exists, else -1
 * and `out` is empty.
 */
int read_confdb_xml(int flags, const char* path, char* out);

/*
 * The modem settings applied at every device bring-up, each an integer key
 * of node "config wan lte modem" (0 when missing or not a number):
 * ext_earfcn, sms_timer, sms_over_ims, sms_save, keep_camp_on_after_detach,
 * ant_rx_mode, intra_band_ca_mode.
 */
int getInitialConfdbExtenedEarfcnConfig(void);
int get_sms_timer_value(void);
int get_sms_over_ims_config_value(void);
int get_sms_save_config_value(void);
int get_keep_camp_on_after_detach_config_value(void);
int get_ant_rx_mode_config_value(void);
int get_Intra_Band_CA_mode_config_value(void);

#ifdef __cplusplus
}
#endif

#endif /* CONFDB_H */
