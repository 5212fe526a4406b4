// The shared body of SQLGetTypeInfo and SQLGetTypeInfoW.
#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SQLRETURN SQLGetTypeInfoWide(SpkStatement *stmt, int data_type) {
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    return spk_type_info(stmt, data_type) == 0 ? SQL_SUCCESS : SQL_ERROR;
}
