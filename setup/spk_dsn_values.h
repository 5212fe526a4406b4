// A data source's values as the setup dialog shows them: loaded from the
// installer's attribute list and odbc.ini, written back key by key.  No Qt
// here, so the rules are testable without a display.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "spk_connect_info.h"

// Longest text a value may hold: what the connection record can carry.
#define SPK_VALUE_MAX 1023

struct SpkDsnValues {
    std::string dsn, description, server, uid, pwd, col_length, log_file, certificate_file, krb_principle, http_uri,
        access_token;
    int port = 10000;
    int logging = 0;          // the trace mask the driver would use; the dialog shows "on" for non-zero
    int encrypt = 0;
    int trust = 0;
    int authentication = 0;
    // Attribute entries that name no value shown here (GSSLIB, timeouts,
    // anything unknown), in their order: written as they came.
    std::vector<std::pair<std::string, std::string>> extra;
};

// The text of one shown value (switches and numbers as the driver reads
// them back: "Yes"/"No", decimal, method names).
enum SpkShownField {
    SPK_FIELD_DSN, SPK_FIELD_DESCRIPTION, SPK_FIELD_SERVER, SPK_FIELD_UID, SPK_FIELD_PORT, SPK_FIELD_PWD,
    SPK_FIELD_LOG_FILE, SPK_FIELD_LOGGING, SPK_FIELD_COL_LENGTH, SPK_FIELD_ENCRYPT, SPK_FIELD_TRUST,
    SPK_FIELD_CERTIFICATE_FILE, SPK_FIELD_AUTHENTICATION, SPK_FIELD_KRB_PRINCIPLE, SPK_FIELD_HTTP_URI,
    SPK_FIELD_ACCESS_TOKEN, SPK_FIELD_COUNT
};
// The odbc.ini key of a shown value.
const char *spk_field_key(int field);
// The value as written to odbc.ini.
std::string spk_field_text(const SpkDsnValues &v, int field);
// True when the value differs from `loaded` as the driver would read it.
bool spk_field_changed(const SpkDsnValues &v, const SpkDsnValues &loaded, int field);

// Splits an installer attribute list (keyword=value entries, each ended by
// NUL, the list by an empty entry).  Null gives no entries.
std::vector<std::pair<std::string, std::string>> spk_attribute_entries(const char *attributes);
// The data-source name an attribute list names (last DSN entry wins; one
// trailing ";" removed); "" when none.
std::string spk_attribute_dsn(const char *attributes);

// Loads the values: the attribute list first, then, when it names a data
// source, whatever it left unsaid from that section of odbc.ini; then the
// defaults (port 10000, column length 256).  Values follow the driver's
// own parsing rules.  Values longer than SPK_VALUE_MAX are kept whole; the
// dialog refuses to save them.
void spk_load_dsn_values(SpkDsnValues *v, const char *attributes);

// True when the data source exists in odbc.ini.
bool spk_dsn_exists(const std::string &dsn);

// Writes a data source.  `original` is the name it was loaded under (empty
// when added); `loaded` what was loaded.  A new name is written in full
// before the old section is removed; an unchanged name is updated in place,
// key by key, so keys not shown survive.  On failure an installer error is
// posted and `error` says why; nothing stored before is lost.  1 / 0.
int spk_save_dsn_values(const SpkDsnValues &v, const SpkDsnValues &loaded, const std::string &original,
                        const std::string &driver, std::string *error);

// Adds or changes a data source from an attribute list alone (no dialog):
// keys are written under the names the driver reads, unknown keys as given.
// `add`: the name must be new.  1 / 0 with an installer error posted.
int spk_write_attributes(const char *attributes, const std::string &driver, bool add);

// The values into a connection record (texts cut at SPK_VALUE_MAX bytes on
// a character boundary); the data-source name travels too.
void spk_fill_connect_info(const SpkDsnValues &v, SpkConnectInfo *info);
// The attribute list that loads a connection record into the dialog.
std::string spk_connect_info_attributes(const SpkConnectInfo *info);
