// The ODBC escape vocabulary and its Spark SQL.
#include "spk_escape.h"

#include <sqlext.h>

#include <cstring>

namespace {

const SpkFnEscape FUNCTIONS[] = {
    // String functions.
    {"ascii", "ascii($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_ASCII},
    {"bit_length", "bit_length($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_BIT_LENGTH},
    {"char", "char($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_CHAR},
    {"char_length", "char_length($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_CHAR_LENGTH},
    {"character_length", "character_length($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_CHARACTER_LENGTH},
    {"concat", "concat($1, $2)", 2, 2, SPK_FN_STRING, SQL_FN_STR_CONCAT},
    {"lcase", "lower($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_LCASE},
    {"left", "left($1, $2)", 2, 2, SPK_FN_STRING, SQL_FN_STR_LEFT},
    // ODBC's LENGTH does not count trailing blanks.
    {"length", "char_length(rtrim($1))", 1, 1, SPK_FN_STRING, SQL_FN_STR_LENGTH},
    {"locate", "locate($*)", 2, 3, SPK_FN_STRING, SQL_FN_STR_LOCATE | SQL_FN_STR_LOCATE_2},
    {"ltrim", "ltrim($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_LTRIM},
    {"octet_length", "octet_length($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_OCTET_LENGTH},
    // POSITION(a IN b) is one argument to the escape and Spark's own syntax.
    {"position", "position($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_POSITION},
    {"repeat", "repeat($1, $2)", 2, 2, SPK_FN_STRING, SQL_FN_STR_REPEAT},
    {"replace", "replace($1, $2, $3)", 3, 3, SPK_FN_STRING, SQL_FN_STR_REPLACE},
    {"right", "right($1, $2)", 2, 2, SPK_FN_STRING, SQL_FN_STR_RIGHT},
    {"rtrim", "rtrim($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_RTRIM},
    {"soundex", "soundex($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_SOUNDEX},
    {"space", "space($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_SPACE},
    {"substring", "substring($*)", 2, 3, SPK_FN_STRING, SQL_FN_STR_SUBSTRING},
    {"ucase", "upper($1)", 1, 1, SPK_FN_STRING, SQL_FN_STR_UCASE},
    // Numeric functions.
    {"abs", "abs($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_ABS},
    {"acos", "acos($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_ACOS},
    {"asin", "asin($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_ASIN},
    {"atan", "atan($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_ATAN},
    {"atan2", "atan2($1, $2)", 2, 2, SPK_FN_NUMERIC, SQL_FN_NUM_ATAN2},
    {"ceiling", "ceil($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_CEILING},
    {"cos", "cos($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_COS},
    {"cot", "cot($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_COT},
    {"degrees", "degrees($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_DEGREES},
    {"exp", "exp($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_EXP},
    {"floor", "floor($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_FLOOR},
    {"log", "ln($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_LOG},
    {"log10", "log10($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_LOG10},
    {"mod", "mod($1, $2)", 2, 2, SPK_FN_NUMERIC, SQL_FN_NUM_MOD},
    {"pi", "pi()", 0, 0, SPK_FN_NUMERIC, SQL_FN_NUM_PI},
    {"power", "power($1, $2)", 2, 2, SPK_FN_NUMERIC, SQL_FN_NUM_POWER},
    {"radians", "radians($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_RADIANS},
    {"rand", "rand($*)", 0, 1, SPK_FN_NUMERIC, SQL_FN_NUM_RAND},
    {"round", "round($*)", 1, 2, SPK_FN_NUMERIC, SQL_FN_NUM_ROUND},
    {"sign", "sign($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_SIGN},
    {"sin", "sin($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_SIN},
    {"sqrt", "sqrt($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_SQRT},
    {"tan", "tan($1)", 1, 1, SPK_FN_NUMERIC, SQL_FN_NUM_TAN},
    // Time and date functions (Spark has no TIME type: CURTIME and
    // CURRENT_TIME are not offered).
    {"curdate", "current_date()", 0, 0, SPK_FN_TIMEDATE, SQL_FN_TD_CURDATE},
    {"current_date", "current_date()", 0, 0, SPK_FN_TIMEDATE, SQL_FN_TD_CURRENT_DATE},
    {"current_timestamp", "current_timestamp()", 0, 0, SPK_FN_TIMEDATE, SQL_FN_TD_CURRENT_TIMESTAMP},
    {"dayname", "date_format($1, 'EEEE')", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_DAYNAME},
    {"dayofmonth", "dayofmonth($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_DAYOFMONTH},
    // Spark's dayofweek counts from Sunday = 1, as ODBC's does.
    {"dayofweek", "dayofweek($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_DAYOFWEEK},
    {"dayofyear", "dayofyear($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_DAYOFYEAR},
    // EXTRACT(field FROM source) is one argument and Spark's own syntax.
    {"extract", "extract($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_EXTRACT},
    {"hour", "hour($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_HOUR},
    {"minute", "minute($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_MINUTE},
    {"month", "month($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_MONTH},
    {"monthname", "date_format($1, 'MMMM')", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_MONTHNAME},
    {"now", "now()", 0, 0, SPK_FN_TIMEDATE, SQL_FN_TD_NOW},
    {"quarter", "quarter($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_QUARTER},
    {"second", "second($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_SECOND},
    {"timestampadd", "timestampadd($I1, $2, $3)", 3, 3, SPK_FN_TIMEDATE, SQL_FN_TD_TIMESTAMPADD},
    {"timestampdiff", "timestampdiff($I1, $2, $3)", 3, 3, SPK_FN_TIMEDATE, SQL_FN_TD_TIMESTAMPDIFF},
    {"week", "weekofyear($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_WEEK},
    {"year", "year($1)", 1, 1, SPK_FN_TIMEDATE, SQL_FN_TD_YEAR},
    // System functions.
    {"database", "current_database()", 0, 0, SPK_FN_SYSTEM, SQL_FN_SYS_DBNAME},
    {"ifnull", "ifnull($1, $2)", 2, 2, SPK_FN_SYSTEM, SQL_FN_SYS_IFNULL},
    {"user", "current_user()", 0, 0, SPK_FN_SYSTEM, SQL_FN_SYS_USERNAME},
    // Conversion.
    {"convert", "CAST($1 AS $T2)", 2, 2, SPK_FN_CONVERT, SQL_FN_CVT_CONVERT},
    {nullptr, nullptr, 0, 0, 0, 0},
};

struct Word {
    const char *odbc;    // without the prefix, lower case
    const char *spark;
};

const Word TYPES[] = {
    {"bigint", "BIGINT"},       {"binary", "BINARY"},     {"varbinary", "BINARY"},
    {"longvarbinary", "BINARY"}, {"bit", "BOOLEAN"},      {"char", "STRING"},
    {"varchar", "STRING"},      {"longvarchar", "STRING"}, {"wchar", "STRING"},
    {"wvarchar", "STRING"},     {"wlongvarchar", "STRING"}, {"date", "DATE"},
    {"type_date", "DATE"},      {"decimal", "DECIMAL(38,18)"}, {"numeric", "DECIMAL(38,18)"},
    {"double", "DOUBLE"},       {"float", "DOUBLE"},      {"real", "FLOAT"},
    {"integer", "INT"},         {"smallint", "SMALLINT"}, {"tinyint", "TINYINT"},
    {"timestamp", "TIMESTAMP"}, {"type_timestamp", "TIMESTAMP"},
};

const Word UNITS[] = {
    {"second", "SECOND"}, {"minute", "MINUTE"}, {"hour", "HOUR"},       {"day", "DAY"},
    {"week", "WEEK"},     {"month", "MONTH"},   {"quarter", "QUARTER"}, {"year", "YEAR"},
};

// Case-insensitive comparison of u[0, n) with a lower-case ASCII word.
bool same(const spk_unit *u, size_t n, const char *w) {
    size_t m = strlen(w);
    if (n != m) return false;
    for (size_t k = 0; k < n; k++) {
        spk_unit c = u[k];
        if (c >= 'A' && c <= 'Z') c = (spk_unit)(c + 32);
        if (c != (spk_unit)(unsigned char)w[k]) return false;
    }
    return true;
}

// Drops a case-insensitive prefix when it is there.
void drop_prefix(const spk_unit *&u, size_t &n, const char *prefix) {
    size_t m = strlen(prefix);
    if (n > m && same(u, m, prefix)) {
        u += m;
        n -= m;
    }
}

template <size_t N>
const char *lookup(const Word (&words)[N], const spk_unit *u, size_t n) {
    for (const Word &w : words)
        if (same(u, n, w.odbc)) return w.spark;
    return nullptr;
}

}  // namespace

const SpkFnEscape *spk_fn_escape_find(const spk_unit *u, size_t n) {
    for (const SpkFnEscape *f = FUNCTIONS; f->name; f++)
        if (same(u, n, f->name)) return f;
    return nullptr;
}

uint32_t spk_fn_escape_mask(int group) {
    uint32_t mask = 0;
    for (const SpkFnEscape *f = FUNCTIONS; f->name; f++)
        if (f->group == group) mask |= f->bit;
    return mask;
}

const SpkFnEscape *spk_fn_escapes() {
    return FUNCTIONS;
}

const char *spk_convert_type(const spk_unit *u, size_t n) {
    drop_prefix(u, n, "sql_");
    return lookup(TYPES, u, n);
}

const char *spk_interval_unit(const spk_unit *u, size_t n) {
    drop_prefix(u, n, "sql_tsi_");
    return lookup(UNITS, u, n);
}

uint32_t spk_interval_mask() {
    return SQL_FN_TSI_SECOND | SQL_FN_TSI_MINUTE | SQL_FN_TSI_HOUR | SQL_FN_TSI_DAY | SQL_FN_TSI_WEEK |
           SQL_FN_TSI_MONTH | SQL_FN_TSI_QUARTER | SQL_FN_TSI_YEAR;
}
