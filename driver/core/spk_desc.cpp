// Descriptors: records, type derivation, the consistency check, header
// fields and the shared bodies of the descriptor exports.
#include "core/spk_desc.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/spk_err.h"
#include "core/spk_log.h"

// ---------------------------------------------------------------------------
// Describe-on-demand hooks.  The execution code provides the real ones; until
// it is linked in, nothing needs describing.

static int spk_no_describe(SpkStatement *) { return 0; }

int (*spk_desc_describe_stmt_hook)(SpkStatement *) = spk_no_describe;
int (*spk_desc_describe_params_hook)(SpkStatement *) = spk_no_describe;

// ---------------------------------------------------------------------------
// Roles

int spk_desc_role(const SpkDescriptor *d) {
    const SpkStatement *owner = d->owner;
    if (!owner) return SPK_DESC_UNOWNED;
    if (!d->application) return owner->ird == d ? SPK_DESC_IRD : SPK_DESC_IPD;
    return owner->ard == d ? SPK_DESC_ARD : SPK_DESC_APD;
}

// ---------------------------------------------------------------------------
// Records

namespace {

void free_text(SpkString **slot) {
    spk_str_free(*slot);
    *slot = nullptr;
}

// Replaces *slot by a copy of the ASCII constant `text` (none for null).
int set_text(SpkString **slot, const char *text) {
    SpkString *s = nullptr;
    if (text) {
        s = spk_str_from_latin1(text);
        if (!s) return -1;
    }
    spk_str_free(*slot);
    *slot = s;
    return 0;
}

// Replaces *slot by a deep copy of `source`.
int copy_text(SpkString **slot, const SpkString *source) {
    SpkString *s = nullptr;
    if (source) {
        s = spk_str_copy(source);
        if (!s) return -1;
    }
    spk_str_free(*slot);
    *slot = s;
    return 0;
}

}  // namespace

void spk_field_clear(SpkField *f) {
    f->data_ptr = nullptr;
    f->indicator_ptr = nullptr;
    f->octet_length_ptr = nullptr;
    free_text(&f->name);
    free_text(&f->table_name);
    free_text(&f->base_column_name);
    free_text(&f->literal_prefix);
    free_text(&f->literal_suffix);
    free_text(&f->local_type_name);
    free_text(&f->type_name);
    free(f->dae_buffer);
    f->dae_buffer = nullptr;
    f->dae_length = 0;
}

int spk_field_copy(const SpkField *s, SpkField *t) {
    if (s == t) return 0;
    t->server_type = s->server_type;
    t->unnamed = s->unnamed;
    t->max_length = s->max_length;
    t->concise_type = s->concise_type;
    t->display_size = s->display_size;
    t->precision = s->precision;
    t->scale = s->scale;
    t->type = s->type;
    t->datetime_subcode = s->datetime_subcode;
    t->octet_length = s->octet_length;
    t->bound_c_type = s->bound_c_type;
    t->auto_unique_value = s->auto_unique_value;
    t->case_sensitive = s->case_sensitive;
    t->fixed_prec_scale = s->fixed_prec_scale;
    t->length = s->length;
    t->nullable = s->nullable;
    t->radix = s->radix;
    t->searchable = s->searchable;
    t->is_unsigned = s->is_unsigned;
    t->updatable = s->updatable;
    t->row_version = s->row_version;
    int rc = 0;
    rc |= copy_text(&t->name, s->name);
    rc |= copy_text(&t->table_name, s->table_name);
    rc |= copy_text(&t->base_column_name, s->base_column_name);
    rc |= copy_text(&t->literal_prefix, s->literal_prefix);
    rc |= copy_text(&t->literal_suffix, s->literal_suffix);
    rc |= copy_text(&t->local_type_name, s->local_type_name);
    rc |= copy_text(&t->type_name, s->type_name);
    return rc ? -1 : 0;
}

int spk_desc_grow(SpkDescriptor *d, int n) {
    if (n <= d->count) return 0;
    if (n > d->capacity) {
        // Grow geometrically so that binding columns one by one stays linear.
        int cap = d->capacity > 0 ? d->capacity : 4;
        while (cap < n) cap = cap > (1 << 29) ? n : cap * 2;
        void *p = realloc(d->records, (size_t)cap * sizeof(SpkField));
        if (!p) return -1;
        d->records = static_cast<SpkField *>(p);
        d->capacity = cap;
    }
    for (int i = d->count; i < n; i++) spk_field_init(&d->records[i]);
    d->count = n;
    return 0;
}

void spk_desc_shrink(SpkDescriptor *d, int n) {
    if (n < 0) n = 0;
    if (n >= d->count) return;
    for (int i = n; i < d->count; i++) spk_field_destroy(&d->records[i]);
    d->count = n;
    if (n == 0) {
        free(d->records);
        d->records = nullptr;
        d->capacity = 0;
    }
}

int spk_desc_reset(SpkDescriptor *d, int n) {
    spk_desc_shrink(d, 0);
    return n > 0 ? spk_desc_grow(d, n) : 0;
}


int64_t spk_field_stride(const SpkDescriptor *d, const SpkField *f, int64_t size) {
    if (d->bind_type != SQL_BIND_BY_COLUMN) return size;
    switch (f->concise_type) {
    case SQL_C_NUMERIC: return (int64_t)sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_LONG:
    case SQL_C_FLOAT:
    case SQL_C_SLONG:
    case SQL_C_ULONG: return 4;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT: return 2;
    case SQL_C_DOUBLE:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT: return 8;
    case SQL_C_DATE:
    case SQL_C_TIME:
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME: return 6;
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: return 16;
    case SQL_C_BIT:
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT: return 1;
    // Fixed-size types whose buffer length an application may leave at 0.
    case SQL_C_GUID: return (int64_t)sizeof(SQLGUID);
    default:
        if (f->concise_type >= SQL_C_INTERVAL_YEAR && f->concise_type <= SQL_C_INTERVAL_MINUTE_TO_SECOND)
            return (int64_t)sizeof(SQL_INTERVAL_STRUCT);
        return size;
    }
}

// ---------------------------------------------------------------------------
// Types

int spk_default_c_type(int sql_type, int as_text) {
    switch (sql_type) {
    case SQL_NUMERIC:
    case SQL_DECIMAL: return as_text ? SQL_C_CHAR : SQL_C_NUMERIC;
    case SQL_INTEGER:
    case SQL_C_SLONG: return SQL_C_SLONG;
    case SQL_SMALLINT:
    case SQL_C_SSHORT: return SQL_C_SSHORT;
    case SQL_FLOAT:
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_DATE:
    case SQL_TYPE_DATE: return SQL_C_DATE;
    case SQL_TIME:
    case SQL_TYPE_TIME: return SQL_C_TIME;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: return SQL_C_TIMESTAMP;
    case SQL_TINYINT:
    case SQL_C_UTINYINT: return SQL_C_UTINYINT;
    case SQL_C_UBIGINT: return SQL_C_UBIGINT;
    case SQL_C_STINYINT: return SQL_C_STINYINT;
    case SQL_BIGINT:
    case SQL_C_SBIGINT: return SQL_C_SBIGINT;
    case SQL_C_ULONG: return SQL_C_ULONG;
    case SQL_C_USHORT: return SQL_C_USHORT;
    case SQL_GUID: return SQL_C_GUID;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return SQL_C_WCHAR;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    default: return SQL_C_CHAR;
    }
}

bool spk_is_c_type(int n) {
    return n == 1 || n == 2 || n == 4 || n == 5 || (n >= 7 && n <= 11) || (n >= 91 && n <= 93) || n == 99 ||
           (n >= 101 && n <= 113) || (n >= -28 && n <= -25) || (n >= -18 && n <= -15) || n == -11 ||
           (n >= -8 && n <= -6) || n == -2;
}

bool spk_is_sql_type(int n) {
    return (n >= 1 && n <= 12) || (n >= 91 && n <= 93) || (n >= -28 && n <= -25) || (n >= -18 && n <= -15) ||
           (n >= -11 && n <= -1);
}

namespace {

// The defaults that follow from a concise type.  Lengths marked KEEP keep
// the record's octet length; the display size and length may derive from it.
enum { KEEP = -1 };
enum SizeRule { FIXED, CHAR_RULE, WCHAR_RULE, BINARY_RULE };

struct TypeDefaults {
    SizeRule rule;
    int64_t octet_length;
    int64_t display_size;
    int64_t precision;
    int64_t length;
    int32_t radix;
    int32_t datetime_precision;   // KEEP: unchanged
    const char *prefix;
    const char *suffix;
    const char *name;
};

const TypeDefaults *type_defaults(int concise) {
    static const TypeDefaults CHAR_D = {CHAR_RULE, KEEP, 0, 0, 1, 0, 0, "'", "'", "char"};
    static const TypeDefaults NUMERIC_D = {FIXED, 19, 0, 38, 38, 10, 0, nullptr, nullptr, "numeric"};
    static const TypeDefaults INT_D = {FIXED, 4, 10, 0, 10, 0, 0, nullptr, nullptr, "int"};
    static const TypeDefaults SMALLINT_D = {FIXED, 2, 5, 0, 5, 0, 0, nullptr, nullptr, "smallint"};
    static const TypeDefaults REAL_D = {FIXED, 4, 15, 24, 15, 2, 0, nullptr, nullptr, "float"};
    static const TypeDefaults DOUBLE_D = {FIXED, 8, 15, 53, 15, 2, 0, nullptr, nullptr, "double"};
    static const TypeDefaults DATE_D = {FIXED, 6, 10, 0, 10, 0, 0, "{d '", "'}", "date"};
    static const TypeDefaults TIME_D = {FIXED, 6, 8, 0, 8, 0, 0, "{t '", "'}", "time"};
    static const TypeDefaults TIMESTAMP_D = {FIXED, 16, 23, 3, 23, 0, 3, "{ts '", "'}", "timestamp"};
    static const TypeDefaults BIT_D = {FIXED, 1, 1, 0, 1, 0, 0, nullptr, nullptr, "bit"};
    static const TypeDefaults BIGINT_D = {FIXED, 8, 20, 0, 20, 0, KEEP, nullptr, nullptr, "bigint"};
    static const TypeDefaults GUID_D = {FIXED, 16, 36, 36, 36, 0, KEEP, nullptr, nullptr, "uniqueidentifier"};
    static const TypeDefaults WCHAR_D = {WCHAR_RULE, KEEP, 0, 0, 1, 0, 0, "'", "'", "nchar"};
    static const TypeDefaults BINARY_D = {BINARY_RULE, KEEP, 0, 0, 0, 0, 0, "0x", "", "binary"};
    switch (concise) {
    case SQL_C_CHAR: return &CHAR_D;
    case SQL_C_NUMERIC: return &NUMERIC_D;
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG: return &INT_D;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT: return &SMALLINT_D;
    case SQL_C_FLOAT: return &REAL_D;
    case SQL_C_DOUBLE: return &DOUBLE_D;
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE: return &DATE_D;
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: return &TIME_D;
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: return &TIMESTAMP_D;
    case SQL_C_UTINYINT:
    case SQL_C_STINYINT:
    case SQL_C_BIT:
    case SQL_C_TINYINT: return &BIT_D;
    case SQL_C_UBIGINT:
    case SQL_C_SBIGINT: return &BIGINT_D;
    case SQL_C_GUID: return &GUID_D;
    case SQL_C_WCHAR: return &WCHAR_D;
    case SQL_C_BINARY: return &BINARY_D;
    default: return nullptr;
    }
}

int datetime_concise_for_subcode(int subcode) {
    switch (subcode) {
    case SQL_CODE_DATE: return SQL_TYPE_DATE;
    case SQL_CODE_TIME: return SQL_TYPE_TIME;
    case SQL_CODE_TIMESTAMP: return SQL_TYPE_TIMESTAMP;
    default: return 0;
    }
}

}  // namespace

int spk_update_desc_type(SpkDescriptor *d, SpkField *f, int which) {
    switch (which) {
    case SPK_TYPE_FROM_CONCISE:
        switch (f->concise_type) {
        case SQL_DATE:
        case SQL_TYPE_DATE:
            f->type = SQL_DATETIME;
            f->datetime_subcode = SQL_CODE_DATE;
            break;
        case SQL_TIME:
        case SQL_TYPE_TIME:
            f->type = SQL_DATETIME;
            f->datetime_subcode = SQL_CODE_TIME;
            break;
        case SQL_TIMESTAMP:
        case SQL_TYPE_TIMESTAMP:
            f->type = SQL_DATETIME;
            f->datetime_subcode = SQL_CODE_TIMESTAMP;
            break;
        default:
            f->type = f->concise_type;
            f->datetime_subcode = 0;
            break;
        }
        break;
    case SPK_TYPE_FROM_SUBCODE:
        if (f->datetime_subcode != 0) {
            int concise = datetime_concise_for_subcode(f->datetime_subcode);
            if (!concise) {
                SPK_LOG(d, LOG_ERROR, "spk_update_desc_type: bad datetime subcode %d", (int)f->datetime_subcode);
                spk_post_error(d, "HY021", 0, nullptr);
                return -1;
            }
            f->type = SQL_DATETIME;
            f->concise_type = concise;
        }
        break;
    case SPK_TYPE_FROM_TYPE:
        if (f->type == SQL_DATETIME) {
            int concise = datetime_concise_for_subcode(f->datetime_subcode);
            if (!concise) {
                SPK_LOG(d, LOG_ERROR, "spk_update_desc_type: datetime type with subcode %d",
                        (int)f->datetime_subcode);
                spk_post_error(d, "HY021", 0, nullptr);
                return -1;
            }
            f->concise_type = concise;
        } else {
            f->concise_type = f->type;
            f->datetime_subcode = 0;
        }
        break;
    default:
        break;
    }

    const TypeDefaults *t = type_defaults(f->concise_type);
    if (!t) {
        SPK_LOG(d, LOG_ERROR, "spk_update_desc_type: no defaults for concise type %d", (int)f->concise_type);
        spk_post_error(d, "HY003", 0, nullptr);
        return -1;
    }
    int64_t octet = f->octet_length;
    switch (t->rule) {
    case FIXED:
        f->octet_length = t->octet_length;
        f->display_size = t->display_size;
        f->length = t->length;
        break;
    case CHAR_RULE:
        f->display_size = octet;
        f->length = t->length;
        break;
    case WCHAR_RULE:
        f->display_size = octet / 2;
        f->length = t->length;
        break;
    case BINARY_RULE:
        f->display_size = octet * 2 + 2;
        f->length = octet;
        break;
    }
    f->precision = t->precision;
    f->scale = 0;
    f->radix = t->radix;
    f->fixed_prec_scale = 0;
    if (t->datetime_precision != KEEP) f->datetime_precision = t->datetime_precision;
    free_text(&f->literal_prefix);
    free_text(&f->literal_suffix);
    free_text(&f->local_type_name);
    free_text(&f->type_name);
    if (set_text(&f->literal_prefix, t->prefix) || set_text(&f->literal_suffix, t->suffix) ||
        set_text(&f->local_type_name, t->name) || set_text(&f->type_name, t->name)) {
        spk_post_error(d, "HY001", 0, nullptr);
        return -1;
    }
    return 0;
}

namespace {

bool plain_type(int t) {
    return (t >= 1 && t <= 8) || t == SQL_VARCHAR || (t >= -28 && t <= -25) || (t >= -18 && t <= -15) ||
           (t >= -11 && t <= -1);
}
bool datetime_subcode_ok(int s) { return s >= SQL_CODE_DATE && s <= SQL_CODE_TIMESTAMP; }
bool datetime_concise(int t) { return (t >= 9 && t <= 11) || (t >= 91 && t <= 93); }

}  // namespace

int spk_check_desc_record(SpkDescriptor *d, SpkField *f) {
    bool datetime_ok = f->type == SQL_DATETIME && datetime_subcode_ok(f->datetime_subcode);
    bool concise_ok = plain_type(f->concise_type) || (datetime_concise(f->concise_type) && datetime_ok);
    bool type_ok = plain_type(f->type) || datetime_ok;
    const char *problem = nullptr;
    bool bad = !concise_ok || !type_ok;
    if (!bad) {
        switch (f->concise_type) {
        case SQL_CHAR:
        case SQL_VARCHAR:
        case SQL_WCHAR:
        case SQL_WVARCHAR:
            if (f->precision < -1) problem = "Negative precision value";
            break;
        case SQL_NUMERIC:
        case SQL_DECIMAL:
            if (f->scale < 0)
                problem = "Negative scale value";
            else if (f->precision < 0)
                problem = "Negative precision value";
            else if (f->precision == 0)
                problem = "Invalid precision value";
            break;
        default: break;
        }
        if (!problem && f->octet_length < 0) problem = "Negative octet length value";
    }
    if (!bad && !problem) return 0;
    SPK_LOG(d, LOG_ERROR, "spk_check_desc_record: type=%d concise=%d subcode=%d: %s", (int)f->type,
            (int)f->concise_type, (int)f->datetime_subcode, problem ? problem : "inconsistent type");
    if (problem)
        spk_post_error(d, "HY021", 0, "%s", problem);
    else
        spk_post_error(d, "HY021", 0, nullptr);
    return -1;
}

// ---------------------------------------------------------------------------
// Header fields

int spk_desc_set_header_field(SpkDescriptor *d, int identifier, void *value, void *post_on) {
    switch (identifier) {
    case SQL_DESC_ARRAY_SIZE: {
        uint64_t n = (uint64_t)(uintptr_t)value;
        d->array_size = n ? n : 1;
        return 0;
    }
    case SQL_DESC_ARRAY_STATUS_PTR: d->array_status_ptr = value; return 0;
    case SQL_DESC_BIND_OFFSET_PTR: d->bind_offset_ptr = value; return 0;
    case SQL_DESC_ROWS_PROCESSED_PTR: d->rows_processed_ptr = value; return 0;
    case SQL_DESC_BIND_TYPE: d->bind_type = (uint32_t)(uintptr_t)value; return 0;
    default:
        spk_post_error(post_on ? post_on : d, "HY091", 0, nullptr);
        return -1;
    }
}

int spk_desc_get_header_field(const SpkDescriptor *d, int identifier, uint64_t *value) {
    uint64_t v;
    switch (identifier) {
    case SQL_DESC_ARRAY_SIZE: v = d->array_size; break;
    case SQL_DESC_ARRAY_STATUS_PTR: v = (uint64_t)(uintptr_t)d->array_status_ptr; break;
    case SQL_DESC_BIND_OFFSET_PTR: v = (uint64_t)(uintptr_t)d->bind_offset_ptr; break;
    case SQL_DESC_ROWS_PROCESSED_PTR: v = (uint64_t)(uintptr_t)d->rows_processed_ptr; break;
    case SQL_DESC_BIND_TYPE: v = d->bind_type; break;
    case SQL_DESC_COUNT: v = (uint64_t)(int64_t)d->count; break;
    case SQL_DESC_ALLOC_TYPE: v = d->implicit ? SQL_DESC_ALLOC_AUTO : SQL_DESC_ALLOC_USER; break;
    default: return -1;
    }
    if (value) *value = v;
    return 0;
}

// ---------------------------------------------------------------------------
// Describe on demand

namespace {

// The statement's diagnostics before a describe, so that the ones the
// describe adds can be handed to the descriptor the application called.
struct ErrorSnapshot {
    std::vector<const SpkError *> before;
    explicit ErrorSnapshot(const SpkStatement *stmt) {
        for (const SpkError *e = stmt->diagnostics; e; e = e->next) before.push_back(e);
    }
    // Copies the records added since the snapshot to `d`; returns how many.
    int copy_new(const SpkStatement *stmt, SpkDescriptor *d) const {
        int n = 0;
        for (const SpkError *e = stmt->diagnostics; e; e = e->next) {
            bool old = false;
            for (const SpkError *b : before) old = old || b == e;
            if (!old) {
                spk_copy_error(d, e);
                n++;
            }
        }
        return n;
    }
};

}  // namespace

SQLRETURN spk_desc_describe_on_demand(SpkDescriptor *d, const char *fn, int wide) {
    if (d->application || !d->owner) return SQL_SUCCESS;
    SpkStatement *stmt = d->owner;
    if (stmt->ird == d) {
        SPK_LOG(d, LOG_DETAIL, "describing a IRD descriptor");
        if (stmt->described) return SQL_SUCCESS;
        if (!stmt->sql) {
            SPK_LOG(d, LOG_ERROR, "%s: statement has no SQL text", fn);
            return spk_post_error(d, "HY007", 0, nullptr);
        }
        if (spk_stmt_has_run(stmt)) return SQL_SUCCESS;
        ErrorSnapshot snapshot(stmt);
        if (spk_desc_describe_stmt_hook(stmt) != 0) {
            SPK_LOG(d, LOG_ERROR, "%s: failed describing statement", fn);
            if (snapshot.copy_new(stmt, d) == 0) spk_post_error(d, "HY000", 0, "failed describing statement");
            return SQL_ERROR;
        }
        return SQL_SUCCESS;
    }

    SPK_LOG(d, LOG_DETAIL, "describing a IPD descriptor");
    if (stmt->param_count <= 0 || stmt->param_described) return SQL_SUCCESS;
    if (spk_stmt_has_run(stmt) && !wide) {
        SPK_LOG(d, LOG_DETAIL, "Skipping describe, already executed");
        return SQL_SUCCESS;
    }
    ErrorSnapshot snapshot(stmt);
    if (spk_desc_describe_params_hook(stmt) != 0) {
        SPK_LOG(d, LOG_ERROR, "%s: failed describing parameters", fn);
        snapshot.copy_new(stmt, d);
        spk_post_error(d, "HY000", 0, "Unable to describe parameters for this statement");
        return SQL_ERROR;
    }
    stmt->param_described = 1;
    return SQL_SUCCESS;
}

// ---------------------------------------------------------------------------
// Reading and writing fields

namespace {

enum TextRule { TEXT_ANSI, TEXT_WIDE_BYTES, TEXT_WIDE_CHARS };

// Copies a text result by the rule of the export; an absent or empty text
// is stored as an empty string (when there is room for a terminator) with
// length 0 and no truncation warning.
SQLRETURN put_text(SpkDescriptor *d, const SpkString *s, void *buffer, long buffer_length, long *length_out,
                   TextRule rule) {
    if (spk_str_length(s) == 0) {
        if (buffer && buffer_length < 0) return spk_post_error(d, "HY090", 0, nullptr);
        if (length_out) *length_out = 0;
        if (buffer) {
            if (rule == TEXT_ANSI && buffer_length >= 1) static_cast<char *>(buffer)[0] = 0;
            if (rule == TEXT_WIDE_BYTES && buffer_length >= 2) static_cast<spk_unit *>(buffer)[0] = 0;
            if (rule == TEXT_WIDE_CHARS && buffer_length >= 1) static_cast<spk_unit *>(buffer)[0] = 0;
        }
        return SQL_SUCCESS;
    }
    switch (rule) {
    case TEXT_ANSI: return spk_copy_ansi(d, s, buffer, buffer_length, length_out);
    case TEXT_WIDE_BYTES: return spk_copy_wide_bytes(d, s, buffer, buffer_length, length_out);
    default: return spk_copy_wide_chars(d, s, buffer, buffer_length, length_out);
    }
}

bool is_header_field(int id) {
    switch (id) {
    case SQL_DESC_ARRAY_SIZE:
    case SQL_DESC_ARRAY_STATUS_PTR:
    case SQL_DESC_BIND_OFFSET_PTR:
    case SQL_DESC_BIND_TYPE:
    case SQL_DESC_ROWS_PROCESSED_PTR:
    case SQL_DESC_COUNT:
    case SQL_DESC_ALLOC_TYPE: return true;
    default: return false;
    }
}

int16_t clamp16(int64_t v) {
    if (v > INT16_MAX) return INT16_MAX;
    if (v < INT16_MIN) return INT16_MIN;
    return (int16_t)v;
}

int32_t clamp32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return (int32_t)v;
}

template <typename T> SQLRETURN put_value(T v, void *value, SQLINTEGER *string_length) {
    if (value) memcpy(value, &v, sizeof v);
    if (string_length) *string_length = (SQLINTEGER)sizeof v;
    return SQL_SUCCESS;
}

// Record selection for the readers: 07009 for a record that does not exist,
// and for record 0 of a parameter descriptor.
SpkField *record_for_read(SpkDescriptor *d, int rec) {
    int role = spk_desc_role(d);
    if (rec < 0 || rec > d->count || (rec == 0 && (role == SPK_DESC_APD || role == SPK_DESC_IPD))) {
        SPK_LOG(d, LOG_ERROR, "descriptor record %d out of range (count %d)", rec, (int)d->count);
        spk_post_error(d, "07009", 0, nullptr);
        return nullptr;
    }
    return spk_desc_record(d, rec);
}

// Record selection for the writers: grows the record array when `rec` is
// past the end.  Null (with a diagnostic) on failure.
SpkField *record_for_write(SpkDescriptor *d, int rec, const char *fn) {
    int role = spk_desc_role(d);
    if (rec < 0 || (rec == 0 && role == SPK_DESC_IPD)) {
        SPK_LOG(d, LOG_ERROR, "%s: descriptor record %d not writable", fn, rec);
        spk_post_error(d, "07009", 0, nullptr);
        return nullptr;
    }
    if (rec > d->count && spk_desc_grow(d, rec) != 0) {
        SPK_LOG(d, LOG_ERROR, "%s: failed to expand descriptor", fn);
        spk_post_error(d, "HY001", 0, "failed expanding descriptor");
        return nullptr;
    }
    return spk_desc_record(d, rec);
}

}  // namespace

SQLRETURN spk_desc_get_field(SpkDescriptor *d, int rec, int identifier, void *value, long buffer_length,
                             SQLINTEGER *string_length, int wide, const char *fn) {
    SQLRETURN rc = spk_desc_describe_on_demand(d, fn, wide);
    if (rc != SQL_SUCCESS) return rc;

    switch (identifier) {
    case SQL_DESC_ARRAY_SIZE: return put_value<SQLULEN>((SQLULEN)d->array_size, value, string_length);
    case SQL_DESC_ARRAY_STATUS_PTR: return put_value<SQLPOINTER>(d->array_status_ptr, value, string_length);
    case SQL_DESC_BIND_OFFSET_PTR: return put_value<SQLPOINTER>(d->bind_offset_ptr, value, string_length);
    case SQL_DESC_ROWS_PROCESSED_PTR: return put_value<SQLPOINTER>(d->rows_processed_ptr, value, string_length);
    case SQL_DESC_BIND_TYPE: return put_value<SQLINTEGER>((SQLINTEGER)d->bind_type, value, string_length);
    case SQL_DESC_COUNT: return put_value<SQLSMALLINT>(clamp16(d->count), value, string_length);
    case SQL_DESC_ALLOC_TYPE:
        return put_value<SQLSMALLINT>(d->implicit ? SQL_DESC_ALLOC_AUTO : SQL_DESC_ALLOC_USER, value, string_length);
    default: break;
    }

    SpkField *f = record_for_read(d, rec);
    if (!f) return SQL_ERROR;

    const SpkString *text = nullptr;
    switch (identifier) {
    // 16-bit values
    case SQL_DESC_CONCISE_TYPE: return put_value<SQLSMALLINT>(clamp16(f->concise_type), value, string_length);
    case SQL_DESC_UNSIGNED: return put_value<SQLSMALLINT>(clamp16(f->is_unsigned), value, string_length);
    case SQL_DESC_FIXED_PREC_SCALE: return put_value<SQLSMALLINT>(clamp16(f->fixed_prec_scale), value, string_length);
    case SQL_DESC_UPDATABLE: return put_value<SQLSMALLINT>(clamp16(f->updatable), value, string_length);
    case SQL_DESC_SEARCHABLE: return put_value<SQLSMALLINT>(clamp16(f->searchable), value, string_length);
    case SQL_DESC_PARAMETER_TYPE: return put_value<SQLSMALLINT>(clamp16(f->parameter_type), value, string_length);
    case SQL_DESC_ROWVER: return put_value<SQLSMALLINT>(clamp16(f->row_version), value, string_length);
    case SQL_DESC_TYPE: return put_value<SQLSMALLINT>(clamp16(f->type), value, string_length);
    case SQL_DESC_PRECISION: return put_value<SQLSMALLINT>(clamp16(f->precision), value, string_length);
    case SQL_DESC_SCALE: return put_value<SQLSMALLINT>(clamp16(f->scale), value, string_length);
    case SQL_DESC_DATETIME_INTERVAL_CODE:
        return put_value<SQLSMALLINT>(clamp16(f->datetime_subcode), value, string_length);
    case SQL_DESC_NULLABLE: return put_value<SQLSMALLINT>(clamp16(f->nullable), value, string_length);
    case SQL_DESC_UNNAMED:
        return put_value<SQLSMALLINT>(spk_str_length(f->name) ? SQL_NAMED : SQL_UNNAMED, value, string_length);
    // 32-bit values
    case SQL_DESC_AUTO_UNIQUE_VALUE: return put_value<SQLINTEGER>(f->auto_unique_value, value, string_length);
    case SQL_DESC_CASE_SENSITIVE: return put_value<SQLINTEGER>(f->case_sensitive, value, string_length);
    case SQL_DESC_DATETIME_INTERVAL_PRECISION:
        return put_value<SQLINTEGER>(f->datetime_precision, value, string_length);
    case SQL_DESC_NUM_PREC_RADIX: return put_value<SQLINTEGER>(f->radix, value, string_length);
    // lengths (SQLLEN / SQLULEN)
    case SQL_DESC_DISPLAY_SIZE: return put_value<SQLLEN>((SQLLEN)f->display_size, value, string_length);
    case SQL_DESC_LENGTH: return put_value<SQLULEN>((SQLULEN)f->length, value, string_length);
    case SQL_DESC_OCTET_LENGTH: return put_value<SQLLEN>((SQLLEN)f->octet_length, value, string_length);
    // buffer pointers
    case SQL_DESC_DATA_PTR: return put_value<SQLPOINTER>(f->data_ptr, value, string_length);
    case SQL_DESC_INDICATOR_PTR: return put_value<SQLPOINTER>(f->indicator_ptr, value, string_length);
    case SQL_DESC_OCTET_LENGTH_PTR: return put_value<SQLPOINTER>(f->octet_length_ptr, value, string_length);
    // text
    case SQL_DESC_TYPE_NAME: text = f->type_name; break;
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME: text = f->table_name; break;
    case SQL_DESC_NAME:
    case SQL_DESC_LABEL: text = f->name; break;
    case SQL_DESC_LITERAL_PREFIX: text = f->literal_prefix; break;
    case SQL_DESC_LITERAL_SUFFIX: text = f->literal_suffix; break;
    case SQL_DESC_LOCAL_TYPE_NAME: text = f->local_type_name; break;
    case SQL_DESC_BASE_COLUMN_NAME: text = f->base_column_name ? f->base_column_name : f->name; break;
    case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME: text = nullptr; break;
    default:
        SPK_LOG(d, LOG_ERROR, "%s: unknown field identifier %d", fn, identifier);
        return spk_post_error(d, "HY091", 0, nullptr);
    }
    long length = 0;
    rc = put_text(d, text, value, buffer_length, &length, wide ? TEXT_WIDE_BYTES : TEXT_ANSI);
    if (string_length && rc != SQL_ERROR) *string_length = clamp32(length);
    return rc;
}

namespace {

bool is_record_field(int id) {
    switch (id) {
    case SQL_DESC_CONCISE_TYPE:
    case SQL_DESC_TYPE:
    case SQL_DESC_DATETIME_INTERVAL_CODE:
    case SQL_DESC_LENGTH:
    case SQL_DESC_OCTET_LENGTH:
    case SQL_DESC_PRECISION:
    case SQL_DESC_SCALE:
    case SQL_DESC_DATETIME_INTERVAL_PRECISION:
    case SQL_DESC_NUM_PREC_RADIX:
    case SQL_DESC_ROWVER:
    case SQL_DESC_INDICATOR_PTR:
    case SQL_DESC_OCTET_LENGTH_PTR:
    case SQL_DESC_DATA_PTR:
    case SQL_DESC_PARAMETER_TYPE:
    case SQL_DESC_NAME:
    case SQL_DESC_UNNAMED:
    case SQL_DESC_UNSIGNED:
    case SQL_DESC_FIXED_PREC_SCALE:
    case SQL_DESC_CASE_SENSITIVE:
    case SQL_DESC_TYPE_NAME:
    case SQL_DESC_LOCAL_TYPE_NAME:
    case SQL_DESC_NULLABLE:
    case SQL_DESC_DISPLAY_SIZE:
    case SQL_DESC_UPDATABLE:
    case SQL_DESC_AUTO_UNIQUE_VALUE:
    case SQL_DESC_SEARCHABLE:
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME:
    case SQL_DESC_LABEL:
    case SQL_DESC_BASE_COLUMN_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX: return true;
    default: return false;
    }
}

// Fields an IPD refuses (they describe results, not parameters).
bool ipd_refuses(int id) {
    switch (id) {
    case SQL_DESC_UNSIGNED:
    case SQL_DESC_FIXED_PREC_SCALE:
    case SQL_DESC_CASE_SENSITIVE:
    case SQL_DESC_TYPE_NAME:
    case SQL_DESC_LOCAL_TYPE_NAME:
    case SQL_DESC_NULLABLE: return true;
    default: return false;
    }
}

SQLRETURN set_header(SpkDescriptor *d, int identifier, void *value, const char *fn) {
    int role = spk_desc_role(d);
    bool app = role == SPK_DESC_ARD || role == SPK_DESC_APD;
    switch (identifier) {
    case SQL_DESC_ARRAY_SIZE:
    case SQL_DESC_BIND_OFFSET_PTR:
    case SQL_DESC_BIND_TYPE:
        if (!app) {
            SPK_LOG(d, LOG_ERROR, "%s: field %d only settable on an ARD or APD in use", fn, identifier);
            return spk_post_error(d, "HY016", 0, nullptr);
        }
        spk_desc_set_header_field(d, identifier, value, d);
        return SQL_SUCCESS;
    case SQL_DESC_ARRAY_STATUS_PTR:
    case SQL_DESC_ROWS_PROCESSED_PTR:
        spk_desc_set_header_field(d, identifier, value, d);
        return SQL_SUCCESS;
    case SQL_DESC_COUNT: {
        if (!app && role != SPK_DESC_IPD) {
            SPK_LOG(d, LOG_ERROR, "%s: count not settable on this descriptor", fn);
            return spk_post_error(d, "HY016", 0, nullptr);
        }
        int n = (SQLSMALLINT)(intptr_t)value;
        if (n < 0) {
            SPK_LOG(d, LOG_ERROR, "%s: negative count %d", fn, n);
            return spk_post_error(d, "07009", 0, nullptr);
        }
        if (n > d->count) {
            if (spk_desc_grow(d, n) != 0) {
                SPK_LOG(d, LOG_ERROR, "%s: failed to expand descriptor", fn);
                return spk_post_error(d, "HY001", 0, "failed expanding descriptor");
            }
        } else {
            spk_desc_shrink(d, n);
        }
        return SQL_SUCCESS;
    }
    default:   // SQL_DESC_ALLOC_TYPE: read-only
        SPK_LOG(d, LOG_ERROR, "%s: field %d is read-only", fn, identifier);
        return spk_post_error(d, "HY091", 0, nullptr);
    }
}

// The name an application gives an IPD record: UTF-8 with a byte length, or
// UTF-16 with a byte length; SQL_NTS for either.  A leading "@" is dropped
// unless the name is exactly that one character given with an explicit
// length.
SQLRETURN make_param_name(SpkDescriptor *d, void *value, long buffer_length, int wide, SpkString **out) {
    *out = nullptr;
    if (!value) return SQL_SUCCESS;
    if (!spk_text_length_ok(buffer_length)) return spk_post_error(d, "HY090", 0, nullptr);
    SpkString *s = wide ? spk_str_from_wide(static_cast<const spk_unit *>(value),
                                            buffer_length == SQL_NTS ? SQL_NTS : buffer_length / 2)
                        : spk_str_from_utf8(static_cast<const char *>(value), buffer_length);
    if (!s) return spk_post_error(d, "HY001", 0, nullptr);
    if (spk_str_length(s) > 0 && s->units[0] == '@' && (buffer_length == SQL_NTS || spk_str_length(s) > 1)) {
        SpkString *rest = spk_str_sub(s, 1, -1);
        spk_str_free(s);
        if (!rest) return spk_post_error(d, "HY001", 0, nullptr);
        s = rest;
    }
    *out = s;
    return SQL_SUCCESS;
}

}  // namespace

SQLRETURN spk_desc_set_field(SpkDescriptor *d, int rec, int identifier, void *value, long buffer_length, int wide,
                             const char *fn) {
    if (is_header_field(identifier)) return set_header(d, identifier, value, fn);
    if (!is_record_field(identifier)) {
        SPK_LOG(d, LOG_ERROR, "%s: unknown field identifier %d", fn, identifier);
        return spk_post_error(d, "HY091", 0, nullptr);
    }
    int role = spk_desc_role(d);
    if (role == SPK_DESC_IRD) {
        SPK_LOG(d, LOG_ERROR, "%s: cannot modify an IRD", fn);
        return spk_post_error(d, "HY016", 0, nullptr);
    }
    bool ipd = role == SPK_DESC_IPD;
    intptr_t iv = (intptr_t)value;
    int16_t sv = (int16_t)iv;

    // Refusals that depend only on the arguments come before anything changes.
    if (ipd && ipd_refuses(identifier)) {
        SPK_LOG(d, LOG_ERROR, "%s: field %d cannot be set on an IPD", fn, identifier);
        return spk_post_error(d, "HY091", 0, nullptr);
    }
    if (ipd && identifier == SQL_DESC_PARAMETER_TYPE && sv != SQL_PARAM_INPUT && sv != SQL_PARAM_INPUT_OUTPUT &&
        sv != SQL_PARAM_OUTPUT) {
        SPK_LOG(d, LOG_ERROR, "%s: invalid parameter type %d", fn, (int)sv);
        return spk_post_error(d, "HY105", 0, nullptr);
    }
    if (ipd && identifier == SQL_DESC_UNNAMED && sv != SQL_UNNAMED) {
        SPK_LOG(d, LOG_ERROR, "%s: SQL_DESC_UNNAMED may only be set to SQL_UNNAMED", fn);
        return spk_post_error(d, "HY092", 0, nullptr);
    }
    SpkString *new_name = nullptr;
    if (ipd && identifier == SQL_DESC_NAME) {
        SQLRETURN rc = make_param_name(d, value, buffer_length, wide, &new_name);
        if (rc != SQL_SUCCESS) return rc;
    }

    SpkField *f = record_for_write(d, rec, fn);
    if (!f) {
        spk_str_free(new_name);
        return SQL_ERROR;
    }
    if (identifier != SQL_DESC_DATA_PTR && identifier != SQL_DESC_INDICATOR_PTR &&
        identifier != SQL_DESC_OCTET_LENGTH_PTR) {
        // Changing the description unbinds the record.
        f->data_ptr = nullptr;
        f->indicator_ptr = nullptr;
        f->octet_length_ptr = nullptr;
    }

    switch (identifier) {
    case SQL_DESC_CONCISE_TYPE:
        f->concise_type = sv;
        return spk_update_desc_type(d, f, SPK_TYPE_FROM_CONCISE) == 0 ? SQL_SUCCESS : SQL_ERROR;
    case SQL_DESC_TYPE:
        f->type = sv;
        return spk_update_desc_type(d, f, SPK_TYPE_FROM_TYPE) == 0 ? SQL_SUCCESS : SQL_ERROR;
    case SQL_DESC_DATETIME_INTERVAL_CODE:
        f->datetime_subcode = sv;
        return spk_update_desc_type(d, f, SPK_TYPE_FROM_SUBCODE) == 0 ? SQL_SUCCESS : SQL_ERROR;
    case SQL_DESC_LENGTH: f->length = (int64_t)(SQLULEN)iv; return SQL_SUCCESS;
    case SQL_DESC_OCTET_LENGTH: f->octet_length = (SQLLEN)iv; return SQL_SUCCESS;
    case SQL_DESC_PRECISION: f->precision = sv; return SQL_SUCCESS;
    case SQL_DESC_SCALE: f->scale = sv; return SQL_SUCCESS;
    case SQL_DESC_DATETIME_INTERVAL_PRECISION: f->datetime_precision = (int32_t)iv; return SQL_SUCCESS;
    case SQL_DESC_NUM_PREC_RADIX: f->radix = (int32_t)iv; return SQL_SUCCESS;
    case SQL_DESC_ROWVER: f->row_version = sv; return SQL_SUCCESS;
    case SQL_DESC_INDICATOR_PTR:
        if (!ipd) f->indicator_ptr = value;
        return SQL_SUCCESS;
    case SQL_DESC_OCTET_LENGTH_PTR:
        if (!ipd) f->octet_length_ptr = value;
        return SQL_SUCCESS;
    case SQL_DESC_DATA_PTR:
        if (ipd) return SQL_SUCCESS;
        f->data_ptr = value;
        return spk_check_desc_record(d, f) == 0 ? SQL_SUCCESS : SQL_ERROR;
    case SQL_DESC_PARAMETER_TYPE:
        if (ipd) f->parameter_type = sv;
        return SQL_SUCCESS;
    case SQL_DESC_NAME:
        if (ipd) {
            spk_str_free(f->name);
            f->name = new_name;
            f->unnamed = new_name ? 0 : 1;
        }
        return SQL_SUCCESS;
    case SQL_DESC_UNNAMED:
        if (ipd) {
            free_text(&f->name);
            f->unnamed = 1;
        }
        return SQL_SUCCESS;
    default:
        // Accepted and ignored: fields the driver derives itself.
        return SQL_SUCCESS;
    }
}

SQLRETURN spk_desc_get_rec(SpkDescriptor *d, int rec, void *name, long buffer_length, SQLSMALLINT *string_length,
                           SQLSMALLINT *type, SQLSMALLINT *sub_type, SQLLEN *length, SQLSMALLINT *precision,
                           SQLSMALLINT *scale, SQLSMALLINT *nullable, int wide, const char *fn) {
    SQLRETURN rc = spk_desc_describe_on_demand(d, fn, wide);
    if (rc != SQL_SUCCESS) return rc;
    SpkField *f = record_for_read(d, rec);
    if (!f) return SQL_ERROR;
    long name_length = 0;
    rc = put_text(d, f->name, name, buffer_length, &name_length, wide ? TEXT_WIDE_CHARS : TEXT_ANSI);
    if (rc == SQL_ERROR) return rc;
    if (string_length) *string_length = clamp16(name_length);
    if (type) *type = clamp16(f->type);
    if (sub_type) *sub_type = clamp16(f->datetime_subcode);
    if (length) *length = (SQLLEN)f->octet_length;
    if (precision) *precision = clamp16(f->precision);
    if (scale) *scale = clamp16(f->scale);
    if (nullable) *nullable = clamp16(f->nullable);
    return rc;
}

SQLRETURN spk_desc_set_rec(SpkDescriptor *d, int rec, int type, int sub_type, SQLLEN length, int precision, int scale,
                           void *data, SQLLEN *string_length, SQLLEN *indicator) {
    int role = spk_desc_role(d);
    if (role == SPK_DESC_IRD) {
        SPK_LOG(d, LOG_ERROR, "SQLSetDescRec: cannot modify an IRD");
        return spk_post_error(d, "HY016", 0, nullptr);
    }
    SpkField *f = record_for_write(d, rec, "SQLSetDescRec");
    if (!f) return SQL_ERROR;
    if (d->application) {
        f->type = type;
        f->datetime_subcode = sub_type;
    }
    if (spk_update_desc_type(d, f, SPK_TYPE_FROM_TYPE) != 0) {
        SPK_LOG(d, LOG_ERROR, "SQLSetDescRec: failed in spk_update_desc_type");
        return SQL_ERROR;
    }
    if (d->application) {
        f->indicator_ptr = indicator;
        f->octet_length = length;
        f->precision = precision;
        f->scale = scale;
        f->data_ptr = data;
        f->octet_length_ptr = string_length;
    }
    return spk_check_desc_record(d, f) == 0 ? SQL_SUCCESS : SQL_ERROR;
}
