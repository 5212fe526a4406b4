// Included first in every source of the Windows build (-include): Winsock 2
// must come before windows.h, which the ODBC headers include; windows.h's
// TEXT macro would rename the driver's own identifiers.
#pragma once
#include <winsock2.h>
#include <windows.h>
#undef TEXT

// ODBC 3.8 values that mingw-w64's ODBC 3.51 headers lack.
#define SQL_ATTR_RESET_CONNECTION 116
#define SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE 117
#define SQL_PARAM_DATA_AVAILABLE 101
#define SQL_ASYNC_DBC_FUNCTIONS 10023
#define SQL_API_SQLCANCELHANDLE 1550
#define SQL_PARAM_INPUT_OUTPUT_STREAM 8
#define SQL_PARAM_OUTPUT_STREAM 16
