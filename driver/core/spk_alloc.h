#pragma once

#include <sql.h>
#include <sqlext.h>

SQLRETURN spk_alloc_handle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE *output, int conn_version);
SQLRETURN spk_free_handle(SQLSMALLINT type, SQLHANDLE handle);
