// One descriptor record.
#pragma once

#include <cstdint>
#include "spk_string.h"

struct SpkField {
    int32_t server_type;
    SpkString *name;
    int32_t unnamed;               // starts at 1
    SpkString *table_name;
    SpkString *base_column_name;
    int32_t max_length;
    int32_t concise_type;
    int64_t display_size;
    int32_t parameter_type;        // starts at 1 (SQL_PARAM_INPUT)
    int64_t precision;
    int32_t scale;
    int32_t type;
    int32_t datetime_subcode;
    int32_t datetime_precision;
    int64_t octet_length;
    void *indicator_ptr;
    void *octet_length_ptr;
    void *data_ptr;
    int32_t bound_c_type;
    int32_t auto_unique_value;
    int32_t case_sensitive;
    int32_t fixed_prec_scale;
    int64_t length;
    SpkString *literal_prefix;
    SpkString *literal_suffix;
    SpkString *local_type_name;
    int32_t nullable;
    int32_t radix;
    int32_t searchable;
    SpkString *type_name;
    int32_t is_unsigned;
    int32_t updatable;
    int32_t row_version;
    unsigned char *dae_buffer;
    int32_t dae_length;
    int32_t data_done;
    int32_t data_offset;
};

// Record 0 of every descriptor starts from this.
void spk_field_init_bookmark(SpkField *f);
// A fresh record (all zero, unnamed 1, parameter type 1).
void spk_field_init(SpkField *f);
// Frees every string and buffer of the record and zeroes it.
void spk_field_destroy(SpkField *f);
