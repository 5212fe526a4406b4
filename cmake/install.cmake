# Installation: both libraries where unixODBC's drivers live, and a driver
# template for odbcinst.  The Debian package (CPack) registers the driver
# with odbcinst when installed and unregisters it when removed.
include(GNUInstallDirs)

# The name the driver is registered under, from the driver's own header.
file(STRINGS ${CMAKE_SOURCE_DIR}/include/spk_keywords.h _name_line REGEX "^#define SPK_DRIVER_NAME ")
string(REGEX REPLACE ".*\"(.*)\".*" "\\1" SPK_DRIVER_NAME "${_name_line}")

# Debian keeps ODBC drivers in lib/<multiarch>/odbc, whatever the prefix.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(_odbc_libdir lib/${CMAKE_LIBRARY_ARCHITECTURE}/odbc)
else()
  set(_odbc_libdir ${CMAKE_INSTALL_LIBDIR}/odbc)
endif()
set(TARN_ODBC_LIBDIR ${_odbc_libdir})
set(TARN_DATADIR ${CMAKE_INSTALL_DATADIR}/tarndrv)

install(TARGETS tarndrv LIBRARY DESTINATION ${TARN_ODBC_LIBDIR})
set(TARN_SETUP_LINE "")
if(TARGET tarndrvs)
  install(TARGETS tarndrvs LIBRARY DESTINATION ${TARN_ODBC_LIBDIR})
  set(TARN_SETUP_LINE "Setup=\${prefix}/${TARN_ODBC_LIBDIR}/libtarndrvs.so\\n")
endif()
# The template names the libraries under the prefix used at install time
# (cmake --install --prefix, or the package's /usr).
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  file(WRITE \"\${CMAKE_CURRENT_BINARY_DIR}/odbcinst.ini.installed\"
       \"[${SPK_DRIVER_NAME}]\\nDescription=ODBC driver for Apache Spark SQL\\nDriver=\${prefix}/${TARN_ODBC_LIBDIR}/libtarndrv.so\\n${TARN_SETUP_LINE}\")
  file(INSTALL \"\${CMAKE_CURRENT_BINARY_DIR}/odbcinst.ini.installed\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${TARN_DATADIR}\" RENAME odbcinst.ini)
")
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---------------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarndrv)
set(CPACK_PACKAGE_VENDOR Quillmark)
set(CPACK_PACKAGE_CONTACT "Quillmark <tarndrv@quillmark.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ODBC driver for Apache Spark SQL (Quillmark Tarnwell)")
set(CPACK_PACKAGE_DESCRIPTION "ODBC 3.51 driver for the Spark Thrift server, with its setup library.\nThe driver is registered with unixODBC as \"${SPK_DRIVER_NAME}\".")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
# odbcinst: the maintainer scripts register the driver with it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "odbcinst")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "unixodbc")
set(TARN_TEMPLATE ${CPACK_PACKAGING_INSTALL_PREFIX}/${TARN_DATADIR}/odbcinst.ini)
configure_file(${CMAKE_SOURCE_DIR}/cmake/deb/postinst.in ${CMAKE_BINARY_DIR}/deb/postinst @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/deb/prerm.in ${CMAKE_BINARY_DIR}/deb/prerm @ONLY)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/deb/postinst ${CMAKE_BINARY_DIR}/deb/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
