// What the driver and the setup library use of the ODBC installer library:
// reading and writing data-source keys in "odbc.ini" and the installer's
// error records.  Texts are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

// Key list of a section (key = null) or one value (NUL-terminated, cut to
// the buffer).  Returns the number of bytes stored (0 when nothing was
// found), never more than size - 1.  A null or empty section stores "".
int spk_ini_get(const char *section, const char *key, const char *default_value, char *buffer, int size);
// The same from the drivers' registry "odbcinst.ini" (the section is a
// driver's name; section = null lists the drivers).
int spk_inst_get(const char *section, const char *key, char *buffer, int size);
// Writes one key (a null value removes it).  1 on success, 0 on failure.
int spk_ini_write(const char *section, const char *key, const char *value);
// Creates the data source for the driver description; 1 / 0.
int spk_ini_write_dsn(const char *dsn, const char *driver);
// Removes the data source; 1 / 0.
int spk_ini_remove_dsn(const char *dsn);
// Installer error record `number` (1..8): 1 while it exists, else 0.
int spk_installer_error(int number, uint32_t *code, char *message, int size);
// Posts an installer error for the installer's caller; 1 / 0.
int spk_post_installer_error(uint32_t code, const char *message);
