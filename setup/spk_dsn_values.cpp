// Loading and saving a data source's values through the ODBC installer.
#include "spk_dsn_values.h"

#include <odbcinst.h>

#include <cstring>

#include "spk_installer.h"
#include "spk_keywords.h"

namespace {

constexpr int SPK_KEY_LIST_SIZE = 8192;
constexpr int SPK_READ_SIZE = SPK_VALUE_MAX + 1;

// The setting each shown field stands for.
const int spk_field_setting[SPK_FIELD_COUNT] = {
    SPK_SET_DSN,      SPK_SET_DESCRIPTION, SPK_SET_SERVER,     SPK_SET_UID,
    SPK_SET_PORT,     SPK_SET_PWD,         SPK_SET_LOG_FILE,   SPK_SET_LOGGING,
    SPK_SET_COL_LENGTH, SPK_SET_ENCRYPT,   SPK_SET_TRUST_SERVER_CERTIFICATE, SPK_SET_CERTIFICATE_FILE,
    SPK_SET_AUTHENTICATION, SPK_SET_KRB_PRINCIPLE, SPK_SET_HTTP_URI, SPK_SET_ACCESS_TOKEN,
};

int spk_field_of_setting(int id) {
    for (int f = 0; f < SPK_FIELD_COUNT; f++)
        if (spk_field_setting[f] == id) return f;
    return -1;
}

// The text or number behind a field (const or not); null for the other kind.
template <typename V> auto spk_text_of(V *v, int field) -> decltype(&v->dsn) {
    switch (field) {
    case SPK_FIELD_DSN: return &v->dsn;
    case SPK_FIELD_DESCRIPTION: return &v->description;
    case SPK_FIELD_SERVER: return &v->server;
    case SPK_FIELD_UID: return &v->uid;
    case SPK_FIELD_PWD: return &v->pwd;
    case SPK_FIELD_LOG_FILE: return &v->log_file;
    case SPK_FIELD_COL_LENGTH: return &v->col_length;
    case SPK_FIELD_CERTIFICATE_FILE: return &v->certificate_file;
    case SPK_FIELD_KRB_PRINCIPLE: return &v->krb_principle;
    case SPK_FIELD_HTTP_URI: return &v->http_uri;
    case SPK_FIELD_ACCESS_TOKEN: return &v->access_token;
    default: return nullptr;
    }
}

template <typename V> auto spk_number_of(V *v, int field) -> decltype(&v->port) {
    switch (field) {
    case SPK_FIELD_PORT: return &v->port;
    case SPK_FIELD_LOGGING: return &v->logging;
    case SPK_FIELD_ENCRYPT: return &v->encrypt;
    case SPK_FIELD_TRUST: return &v->trust;
    case SPK_FIELD_AUTHENTICATION: return &v->authentication;
    default: return nullptr;
    }
}

// Stores one value given as text, by the driver's rule for the DSN key.
void spk_set_field(SpkDsnValues *v, int field, const std::string &text) {
    if (std::string *t = spk_text_of(v, field)) {
        *t = text;
        if (field == SPK_FIELD_DSN && !t->empty() && t->back() == ';') t->pop_back();
        return;
    }
    const SpkKeyword *k = spk_keyword(spk_field_setting[field]);
    *spk_number_of(v, field) = spk_rule_value(k->dsn_rule, text.c_str());
}

std::string spk_read_key(const std::string &section, const char *key) {
    char buffer[SPK_READ_SIZE];
    int n = spk_ini_get(section.c_str(), key, "", buffer, sizeof buffer);
    return std::string(buffer, n > 0 ? (size_t)n : 0);
}

std::vector<std::string> spk_section_keys(const std::string &section) {
    std::vector<char> list(SPK_KEY_LIST_SIZE, 0);
    std::vector<std::string> keys;
    if (spk_ini_get(section.c_str(), nullptr, "", list.data(), SPK_KEY_LIST_SIZE) <= 0) return keys;
    for (const char *k = list.data(); *k; k += strlen(k) + 1) keys.emplace_back(k);
    return keys;
}

bool spk_post(unsigned code, const std::string &message, std::string *error) {
    spk_post_installer_error(code, message.c_str());
    if (error) *error = message;
    return false;
}

// The key under which an attribute entry is stored: the driver's own
// spelling for a known setting, the keyword as given otherwise.
const char *spk_storage_key(const std::string &keyword) {
    const SpkKeyword *k = spk_keyword_find_any(keyword.c_str());
    return k && k->dsn_key ? k->dsn_key : keyword.c_str();
}

bool spk_is_word(const std::string &a, const char *b) { return spk_word_equal(a.c_str(), b); }

// Writes one key; false with an installer error posted on failure.
bool spk_write_key(const std::string &section, const char *key, const std::string &value, std::string *error) {
    if (spk_ini_write(section.c_str(), key, value.c_str())) return true;
    return spk_post(ODBC_ERROR_REQUEST_FAILED, "Could not write " + std::string(key) + " of data source '" + section + "'",
                    error);
}

// The fields (in the order a new data source is written) and the extra keys.
bool spk_write_fields(const SpkDsnValues &v, const SpkDsnValues *loaded, const std::string &section,
                      std::string *error) {
    for (int f = SPK_FIELD_DESCRIPTION; f < SPK_FIELD_COUNT; f++) {
        if (loaded && !spk_field_changed(v, *loaded, f)) continue;
        if (!spk_write_key(section, spk_field_key(f), spk_field_text(v, f), error)) return false;
    }
    for (auto &e : v.extra)
        if (!spk_write_key(section, spk_storage_key(e.first), e.second, error)) return false;
    return true;
}

// Copies every key of `from` into the new section `to` (created first).
bool spk_copy_section(const std::string &from, const std::string &to, const std::string &driver, std::string *error) {
    std::string from_driver = spk_read_key(from, "Driver");
    if (!spk_ini_write_dsn(to.c_str(), from_driver.empty() ? driver.c_str() : from_driver.c_str()))
        return spk_post(ODBC_ERROR_CREATE_DSN_FAILED, "Could not create data source '" + to + "'", error);
    for (const std::string &key : spk_section_keys(from)) {
        if (spk_is_word(key, "Driver")) continue;
        if (!spk_write_key(to, key.c_str(), spk_read_key(from, key.c_str()), error)) return false;
    }
    return true;
}

void spk_copy_text(char *out, size_t size, const std::string &text) {
    spk_copy_record_text(out, size, text.data(), text.size());
}

}   // namespace

const char *spk_field_key(int field) {
    if (field < 0 || field >= SPK_FIELD_COUNT) return nullptr;
    return spk_keyword(spk_field_setting[field])->dsn_key;
}

std::string spk_field_text(const SpkDsnValues &v, int field) {
    switch (field) {
    case SPK_FIELD_COL_LENGTH: {
        int n = spk_parse_decimal(v.col_length.c_str());
        return std::to_string(n < 1 ? 256 : n);
    }
    case SPK_FIELD_LOGGING:
        if (v.logging == 0) return SPK_WORD_NO;
        if (v.logging == 1 || v.logging == 0x1F) return SPK_WORD_YES;
        return std::to_string(v.logging);
    case SPK_FIELD_ENCRYPT: return v.encrypt ? SPK_WORD_YES : SPK_WORD_NO;
    case SPK_FIELD_TRUST: return v.trust ? SPK_WORD_YES : SPK_WORD_NO;
    case SPK_FIELD_AUTHENTICATION:
        if (v.authentication >= 0 && v.authentication < SPK_AUTH_CODE_COUNT) return spk_auth_names[v.authentication];
        return std::to_string(v.authentication);
    case SPK_FIELD_PORT: return std::to_string(v.port);
    default: {
        const std::string *t = spk_text_of(&v, field);
        return t ? *t : std::string();
    }
    }
}

bool spk_field_changed(const SpkDsnValues &v, const SpkDsnValues &loaded, int field) {
    if (field == SPK_FIELD_COL_LENGTH) return spk_field_text(v, field) != spk_field_text(loaded, field);
    if (field == SPK_FIELD_ENCRYPT || field == SPK_FIELD_TRUST)
        return (*spk_number_of(&v, field) != 0) != (*spk_number_of(&loaded, field) != 0);
    if (const int *n = spk_number_of(&v, field)) return *n != *spk_number_of(&loaded, field);
    return *spk_text_of(&v, field) != *spk_text_of(&loaded, field);
}

std::vector<std::pair<std::string, std::string>> spk_attribute_entries(const char *attributes) {
    std::vector<std::pair<std::string, std::string>> entries;
    if (!attributes) return entries;
    for (const char *p = attributes; *p; p += strlen(p) + 1) {
        const char *eq = strchr(p, '=');
        if (eq)
            entries.emplace_back(std::string(p, (size_t)(eq - p)), std::string(eq + 1));
        else
            entries.emplace_back(std::string(p), std::string());
    }
    return entries;
}

std::string spk_attribute_dsn(const char *attributes) {
    SpkDsnValues v;
    for (auto &e : spk_attribute_entries(attributes))
        if (spk_is_word(e.first, "DSN")) spk_set_field(&v, SPK_FIELD_DSN, e.second);
    return v.dsn;
}

void spk_load_dsn_values(SpkDsnValues *v, const char *attributes) {
    *v = SpkDsnValues();
    bool supplied[SPK_FIELD_COUNT] = {};
    for (auto &e : spk_attribute_entries(attributes)) {
        const SpkKeyword *k = spk_keyword_find_any(e.first.c_str());
        int field = k ? spk_field_of_setting(k->id) : -1;
        if (field >= 0) {
            spk_set_field(v, field, e.second);
            supplied[field] = true;
        } else if (!spk_is_word(e.first, "Driver") && !e.first.empty()) {
            v->extra.emplace_back(e.first, e.second);
        }
    }
    if (!v->dsn.empty()) {
        for (int f = SPK_FIELD_DESCRIPTION; f < SPK_FIELD_COUNT; f++) {
            std::string *t = spk_text_of(v, f);
            if (supplied[f] && (!t || !t->empty())) continue;
            std::string value = spk_read_key(v->dsn, spk_field_key(f));
            if (!value.empty()) spk_set_field(v, f, value);
        }
    }
    if (v->col_length.empty()) v->col_length = "256";
    if (!supplied[SPK_FIELD_PORT] && v->port == 0) v->port = 10000;
}

bool spk_dsn_exists(const std::string &dsn) { return !dsn.empty() && !spk_section_keys(dsn).empty(); }

int spk_save_dsn_values(const SpkDsnValues &v, const SpkDsnValues &loaded, const std::string &original,
                        const std::string &driver, std::string *error) {
    if (v.dsn.empty()) return spk_post(ODBC_ERROR_INVALID_NAME, "A data source name is required", error);
    bool same = !original.empty() && spk_word_equal(v.dsn.c_str(), original.c_str());
    if (same) return spk_write_fields(v, &loaded, original, error) ? 1 : 0;
    if (spk_dsn_exists(v.dsn))
        return spk_post(ODBC_ERROR_REQUEST_FAILED, "A data source named '" + v.dsn + "' already exists", error);
    if (original.empty()) {
        if (!spk_ini_write_dsn(v.dsn.c_str(), driver.c_str()))
            return spk_post(ODBC_ERROR_CREATE_DSN_FAILED, "Could not create data source '" + v.dsn + "'", error);
        return spk_write_fields(v, nullptr, v.dsn, error) ? 1 : 0;
    }
    // Renamed: the new section is complete before the old one goes.
    if (!spk_copy_section(original, v.dsn, driver, error) || !spk_write_fields(v, &loaded, v.dsn, error)) {
        spk_ini_remove_dsn(v.dsn.c_str());
        return 0;
    }
    if (!spk_ini_remove_dsn(original.c_str()))
        return spk_post(ODBC_ERROR_REMOVE_DSN_FAILED,
                        "Data source '" + v.dsn + "' was written but '" + original + "' could not be removed", error);
    return 1;
}

int spk_write_attributes(const char *attributes, const std::string &driver, bool add) {
    std::string dsn = spk_attribute_dsn(attributes);
    std::string error;
    if (dsn.empty()) return spk_post(ODBC_ERROR_INVALID_NAME, "Invalid DSN specified", &error);
    bool exists = spk_dsn_exists(dsn);
    if (add && exists) return spk_post(ODBC_ERROR_REQUEST_FAILED, "A data source named '" + dsn + "' already exists", &error);
    if (!add && !exists) return spk_post(ODBC_ERROR_INVALID_DSN, "Data source '" + dsn + "' does not exist", &error);
    if (add && !spk_ini_write_dsn(dsn.c_str(), driver.c_str()))
        return spk_post(ODBC_ERROR_CREATE_DSN_FAILED, "Could not create data source '" + dsn + "'", &error);
    for (auto &e : spk_attribute_entries(attributes)) {
        if (e.first.empty() || spk_is_word(e.first, "DSN") || spk_is_word(e.first, "Driver")) continue;
        if (!spk_write_key(dsn, spk_storage_key(e.first), e.second, &error)) return 0;
    }
    return 1;
}

void spk_fill_connect_info(const SpkDsnValues &v, SpkConnectInfo *info) {
    memset(info, 0, sizeof *info);
    spk_copy_text(info->dsn, sizeof info->dsn, v.dsn);
    spk_copy_text(info->uid, sizeof info->uid, v.uid);
    spk_copy_text(info->pwd, sizeof info->pwd, v.pwd);
    spk_copy_text(info->server, sizeof info->server, v.server);
    info->port = v.port;
    spk_copy_text(info->col_length, sizeof info->col_length, v.col_length);
    info->logging = v.logging;
    spk_copy_text(info->log_file, sizeof info->log_file, v.log_file);
    info->encrypt = v.encrypt;
    info->trust_server_certificate = v.trust;
    spk_copy_text(info->certificate_file, sizeof info->certificate_file, v.certificate_file);
    info->authentication = v.authentication;
    spk_copy_text(info->krb_principle, sizeof info->krb_principle, v.krb_principle);
    spk_copy_text(info->http_uri, sizeof info->http_uri, v.http_uri);
    spk_copy_text(info->access_token, sizeof info->access_token, v.access_token);
}

std::string spk_connect_info_attributes(const SpkConnectInfo *info) {
    std::string list;
    auto add = [&](int id, const std::string &value) {
        list += spk_keyword(id)->dsn_key ? spk_keyword(id)->dsn_key : "DSN";
        list += '=';
        list += value;
        list += '\0';
    };
    auto text = [&](int id, const char *field, size_t size) {
        size_t n = strnlen(field, size);
        if (n) add(id, std::string(field, n));
    };
    text(SPK_SET_DSN, info->dsn, sizeof info->dsn);
    text(SPK_SET_UID, info->uid, sizeof info->uid);
    text(SPK_SET_PWD, info->pwd, sizeof info->pwd);
    text(SPK_SET_SERVER, info->server, sizeof info->server);
    add(SPK_SET_PORT, std::to_string(info->port));
    text(SPK_SET_COL_LENGTH, info->col_length, sizeof info->col_length);
    add(SPK_SET_LOGGING, std::to_string(info->logging));
    text(SPK_SET_LOG_FILE, info->log_file, sizeof info->log_file);
    add(SPK_SET_ENCRYPT, std::to_string(info->encrypt));
    add(SPK_SET_TRUST_SERVER_CERTIFICATE, std::to_string(info->trust_server_certificate));
    text(SPK_SET_CERTIFICATE_FILE, info->certificate_file, sizeof info->certificate_file);
    add(SPK_SET_AUTHENTICATION, std::to_string(info->authentication));
    text(SPK_SET_KRB_PRINCIPLE, info->krb_principle, sizeof info->krb_principle);
    text(SPK_SET_HTTP_URI, info->http_uri, sizeof info->http_uri);
    text(SPK_SET_ACCESS_TOKEN, info->access_token, sizeof info->access_token);
    list += '\0';
    return list;
}
