// Descriptors: the record array, type derivation, the consistency check,
// header fields, and the shared bodies of the SQLGet/SetDescField(W) and
// SQLGet/SetDescRec(W) exports.
//
// Record numbering: record 0 is the descriptor's `bookmark_record`, records
// 1..count live at records[0..count-1].  A pointer to a record stays valid
// until the next spk_desc_grow / spk_desc_shrink / spk_desc_reset of that
// descriptor (the array may move); re-fetch it with spk_desc_record after.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "spk_field.h"
#include "spk_handles.h"

// ---------------------------------------------------------------------------
// Roles (derived from `application`, `owner` and the owner's current
// descriptors).
enum SpkDescRole {
    SPK_DESC_UNOWNED = 0,   // explicit descriptor not in use by a statement
    SPK_DESC_IRD = 1,
    SPK_DESC_IPD = 2,
    SPK_DESC_ARD = 3,
    SPK_DESC_APD = 4,
};
int spk_desc_role(const SpkDescriptor *d);

// ---------------------------------------------------------------------------
// Records

// Nulls the data, indicator and octet-length pointers and frees every string
// and the data-at-execution buffer; the type fields are kept.
void spk_field_clear(SpkField *f);
// Copies the description of `source` into `target` (strings deep-copied,
// target's old strings freed).  Pointers, parameter type, datetime precision
// and the data-at-execution buffer of `target` are left alone.  0, or -1
// when memory runs out (target then keeps no half-copied string; nothing is
// posted: the caller posts HY001).
int spk_field_copy(const SpkField *source, SpkField *target);

// The record array.  None of these post diagnostics: on -1 (memory ran out)
// the caller posts HY001 on the handle of its call; existing records stay
// valid and `count` is unchanged.
// count < n: the array grows to n initialised records and count = n.
int spk_desc_grow(SpkDescriptor *d, int n);
// n < count: records n+1..count are destroyed and count = n (n <= 0 frees the array).
void spk_desc_shrink(SpkDescriptor *d, int n);
// Destroys every record, then makes n initialised ones (none for n <= 0).
int spk_desc_reset(SpkDescriptor *d, int n);
// Record i: 0 is the bookmark record, 1..count the records; null otherwise.
inline SpkField *spk_desc_record(SpkDescriptor *d, int i) {
    if (i == 0) return &d->bookmark_record;
    if (i < 0 || i > d->count) return nullptr;
    return &d->records[i - 1];
}
// `count`, but no more than `described_count` when `described` is set.
inline int spk_desc_column_count(const SpkDescriptor *d) {
    if (d->described && d->described_count < d->count) return d->described_count;
    return d->count;
}
// The distance between two elements of a bound array: `size` for row-wise
// binding (bind type != 0), else the element size of the record's concise
// C type, or `size` for variable-length types.
int64_t spk_field_stride(const SpkDescriptor *d, const SpkField *f, int64_t size);

// ---------------------------------------------------------------------------
// Types

// The C type that SQL_C_DEFAULT stands for with an SQL type (or a C type).
int spk_default_c_type(int sql_type, int as_text);
bool spk_is_c_type(int n);
bool spk_is_sql_type(int n);

enum {
    SPK_TYPE_FROM_CONCISE = 0,    // SQL_DESC_CONCISE_TYPE was just stored
    SPK_TYPE_FROM_SUBCODE = 1,    // SQL_DESC_DATETIME_INTERVAL_CODE was just stored
    SPK_TYPE_FROM_TYPE = 2,       // SQL_DESC_TYPE was just stored
};
// Derives the other type fields from the one just stored and sets the
// type-dependent defaults (lengths, precision, literal prefix/suffix, type
// names).  0, or -1 with HY021 (bad datetime subcode) / HY003 (type without
// defaults) / HY001 posted on `d`.
int spk_update_desc_type(SpkDescriptor *d, SpkField *f, int which);
// The consistency check run when a data pointer is set: 0, or -1 with HY021.
int spk_check_desc_record(SpkDescriptor *d, SpkField *f);

// ---------------------------------------------------------------------------
// Header fields as the statement attributes reach them (SQL_ATTR_ROW_ARRAY_SIZE
// -> ARD SQL_DESC_ARRAY_SIZE, SQL_ATTR_ROW_STATUS_PTR -> IRD
// SQL_DESC_ARRAY_STATUS_PTR, ...).  The caller has picked the descriptor, so
// no role check is made.  `identifier` is one of SQL_DESC_ARRAY_SIZE (value
// carries the size; 0 is stored as 1), SQL_DESC_ARRAY_STATUS_PTR,
// SQL_DESC_BIND_OFFSET_PTR, SQL_DESC_ROWS_PROCESSED_PTR (value is the
// pointer), SQL_DESC_BIND_TYPE (value carries the bind type, low 32 bits).
// 0, or -1 with HY091 posted on `post_on` (on `d` when null) for any other
// identifier.
int spk_desc_set_header_field(SpkDescriptor *d, int identifier, void *value, void *post_on);
// The same fields (and SQL_DESC_COUNT, SQL_DESC_ALLOC_TYPE) as one 64-bit
// value, pointers converted; 0, or -1 (nothing posted) for any other identifier.
int spk_desc_get_header_field(const SpkDescriptor *d, int identifier, uint64_t *value);

// ---------------------------------------------------------------------------
// Shared bodies of the exports; they run inside the caller's frame (the
// descriptor locked, its diagnostics cleared).  `wide` selects UTF-16 text
// (SQLGetDescFieldW: lengths in bytes; SQLGetDescRecW: lengths in
// characters; SQLSetDescFieldW: buffer length in bytes); otherwise text is
// UTF-8 with lengths in bytes.  `fn` names the export for trace records.

// Reads the server before an IRD or IPD is inspected (no-op for application
// descriptors and for descriptors without a statement).  The describe steps
// belong to the execution layer, which sets these pointers when it is
// loaded (tests replace them); until then they do nothing.  Diagnostics the steps post on the
// statement are copied to the descriptor.
extern int (*spk_desc_describe_stmt_hook)(SpkStatement *);
extern int (*spk_desc_describe_params_hook)(SpkStatement *);
SQLRETURN spk_desc_describe_on_demand(SpkDescriptor *d, const char *fn, int wide);

SQLRETURN spk_desc_get_field(SpkDescriptor *d, int rec, int identifier, void *value, long buffer_length,
                             SQLINTEGER *string_length, int wide, const char *fn);
SQLRETURN spk_desc_set_field(SpkDescriptor *d, int rec, int identifier, void *value, long buffer_length, int wide,
                             const char *fn);
SQLRETURN spk_desc_get_rec(SpkDescriptor *d, int rec, void *name, long buffer_length, SQLSMALLINT *string_length,
                           SQLSMALLINT *type, SQLSMALLINT *sub_type, SQLLEN *length, SQLSMALLINT *precision,
                           SQLSMALLINT *scale, SQLSMALLINT *nullable, int wide, const char *fn);
SQLRETURN spk_desc_set_rec(SpkDescriptor *d, int rec, int type, int sub_type, SQLLEN length, int precision, int scale,
                           void *data, SQLLEN *string_length, SQLLEN *indicator);
