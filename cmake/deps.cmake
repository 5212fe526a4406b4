find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_program(THRIFT_COMPILER thrift REQUIRED)

if(WIN32)
  # Cross-built OpenSSL and Thrift, and the system's ODBC libraries.
  include(${CMAKE_CURRENT_LIST_DIR}/windows-deps.cmake)
else()
find_package(OpenSSL 3 REQUIRED)
pkg_check_modules(THRIFT REQUIRED IMPORTED_TARGET thrift)

# unixODBC: headers from odbc.pc, the installer library from odbcinst.pc.
pkg_check_modules(ODBCINST REQUIRED odbcinst)
find_library(ODBCINST_LIBRARY NAMES odbcinst HINTS ${ODBCINST_LIBRARY_DIRS} REQUIRED)
add_library(ODBC::odbcinst UNKNOWN IMPORTED)
set_target_properties(ODBC::odbcinst PROPERTIES IMPORTED_LOCATION ${ODBCINST_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES "${ODBCINST_INCLUDE_DIRS}")
find_library(ODBC_LIBRARY NAMES odbc REQUIRED)   # tests only: the Driver Manager
endif()

# TCLIService bindings, generated at build time from our own interface file.
set(TCLI_IDL ${CMAKE_SOURCE_DIR}/driver/protocol/TCLIService.thrift)
set(TCLI_GENERATED_DIR ${CMAKE_BINARY_DIR}/gen-cpp)
set(TCLI_GENERATED_SOURCES "")
if(EXISTS ${TCLI_IDL})
  set(TCLI_GENERATED_SOURCES
      ${TCLI_GENERATED_DIR}/TCLIService.cpp
      ${TCLI_GENERATED_DIR}/TCLIService_types.cpp)
  add_custom_command(
      OUTPUT ${TCLI_GENERATED_SOURCES}
             ${TCLI_GENERATED_DIR}/TCLIService.h ${TCLI_GENERATED_DIR}/TCLIService_types.h
      COMMAND ${CMAKE_COMMAND} -E make_directory ${TCLI_GENERATED_DIR}
      COMMAND ${THRIFT_COMPILER} --gen cpp:no_default_operators,no_skeleton -out ${TCLI_GENERATED_DIR} ${TCLI_IDL}
      DEPENDS ${TCLI_IDL}
      COMMENT "Generating TCLIService bindings")
  set_source_files_properties(${TCLI_GENERATED_SOURCES} PROPERTIES COMPILE_OPTIONS "-Wno-error")
endif()
