#include "spk_field.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>

void spk_field_init(SpkField *f) {
    memset(f, 0, sizeof *f);
    f->unnamed = 1;
    f->parameter_type = SQL_PARAM_INPUT;
}

void spk_field_init_bookmark(SpkField *f) {
    memset(f, 0, sizeof *f);
    f->type = SQL_VARBINARY;
    f->concise_type = SQL_VARBINARY;
    f->display_size = 8;
    f->octet_length = 4;
    f->length = 8;
    f->unnamed = 1;
}

void spk_field_destroy(SpkField *f) {
    spk_str_free(f->name);
    spk_str_free(f->table_name);
    spk_str_free(f->base_column_name);
    spk_str_free(f->literal_prefix);
    spk_str_free(f->literal_suffix);
    spk_str_free(f->local_type_name);
    spk_str_free(f->type_name);
    free(f->dae_buffer);
    memset(f, 0, sizeof *f);
}
