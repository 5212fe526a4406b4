// The ODBC escape vocabulary the scanner translates: scalar functions
// ({fn ...}), CONVERT's SQL type names and TIMESTAMPADD/TIMESTAMPDIFF's
// interval words, each with the Spark SQL it becomes.  SQLGetInfo's function
// masks report exactly these (a unit test holds them together).
#pragma once

#include <cstddef>
#include <cstdint>

#include "spk_string.h"

enum SpkFnGroup { SPK_FN_STRING, SPK_FN_NUMERIC, SPK_FN_TIMEDATE, SPK_FN_SYSTEM, SPK_FN_CONVERT };

// One scalar function.  The template is Spark SQL in which $1, $2, ... stand
// for the arguments as written, $* for all of them separated by ", ", $T2
// for the Spark type named by the SQL_ type word of argument 2 and $I1 for
// the Spark unit named by the SQL_TSI_ interval word of argument 1.  Every
// argument appears exactly once and in its own order, so parameter markers
// keep their numbers.
struct SpkFnEscape {
    const char *name;        // ODBC name, lower case
    const char *spark;       // template
    int min_args, max_args;
    int group;               // SpkFnGroup
    uint32_t bit;            // the SQL_FN_* bit SQLGetInfo reports
};

// The function named u[0, n) (any case), or null.
const SpkFnEscape *spk_fn_escape_find(const spk_unit *u, size_t n);
// The union of the bits of one group.
uint32_t spk_fn_escape_mask(int group);
// Every entry, ending with a null name.
const SpkFnEscape *spk_fn_escapes();

// The Spark type for an ODBC SQL type word (SQL_INTEGER, SQL_VARCHAR, ...,
// any case, the SQL_ prefix optional), or null.
const char *spk_convert_type(const spk_unit *u, size_t n);
// The Spark unit for an interval word (SQL_TSI_DAY, ...; prefix optional),
// or null.
const char *spk_interval_unit(const spk_unit *u, size_t n);
// The SQL_FN_TSI_* bits of the interval words above.
uint32_t spk_interval_mask();
