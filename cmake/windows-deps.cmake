# Dependencies of the Windows build: OpenSSL and Thrift built for mingw-w64 in
# TARN_WIN_PREFIX (scripts/windows.sh makes it), Boost headers and the
# capitalised Windows header names that Thrift uses (links in the prefix).
if(NOT TARN_WIN_PREFIX OR NOT EXISTS ${TARN_WIN_PREFIX}/lib/libthrift.a)
  message(FATAL_ERROR "TARN_WIN_PREFIX must name a prefix with OpenSSL and Thrift for Windows (scripts/windows.sh build)")
endif()

set(OPENSSL_ROOT_DIR ${TARN_WIN_PREFIX})
set(OPENSSL_USE_STATIC_LIBS ON)
find_package(OpenSSL 3 REQUIRED)
foreach(t OpenSSL::Crypto OpenSSL::SSL)
  set_property(TARGET ${t} APPEND PROPERTY INTERFACE_LINK_LIBRARIES ws2_32 crypt32 user32 advapi32)
endforeach()

add_library(PkgConfig::THRIFT STATIC IMPORTED)
set_target_properties(PkgConfig::THRIFT PROPERTIES
    IMPORTED_LOCATION ${TARN_WIN_PREFIX}/lib/libthrift.a
    INTERFACE_INCLUDE_DIRECTORIES ${TARN_WIN_PREFIX}/include
    INTERFACE_LINK_LIBRARIES "ws2_32;shlwapi")
target_compile_options(PkgConfig::THRIFT INTERFACE -idirafter ${TARN_WIN_PREFIX}/case-aliases)

# The ODBC installer library and the Driver Manager of the system.
add_library(ODBC::odbcinst INTERFACE IMPORTED)
set_target_properties(ODBC::odbcinst PROPERTIES INTERFACE_LINK_LIBRARIES odbccp32)
set(ODBC_LIBRARY odbc32)

# The platform layer's system libraries (SSPI).
link_libraries(secur32)

# Windows headers: Winsock 2 before windows.h, no GDI names (ERROR), and no
# TEXT macro over the driver's own names.
add_compile_definitions(WIN32_LEAN_AND_MEAN NOGDI NOMINMAX _WIN32_WINNT=0x0601)
add_compile_options(-include ${CMAKE_SOURCE_DIR}/platform/spk_win32_prelude.h)
