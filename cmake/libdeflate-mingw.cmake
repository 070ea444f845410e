# libdeflate for the Windows tool. Debian has no MinGW build of it, so the
# source Debian ships (the same version as the host's libdeflate-dev) is
# fetched from the Debian archive, checked against the checksum in the
# package's .dsc, and built with its own Makefile for the target.
# ZEVRIN_LIBDEFLATE_SOURCE may name a local copy of the same tarball.
include(ExternalProject)

set(ZEVRIN_LIBDEFLATE_VERSION 1.14)
set(ZEVRIN_LIBDEFLATE_SHA256 89e7df898c37c3427b0f39aadcf733731321a278771d20fc553f92da8d4808ac)
set(ZEVRIN_LIBDEFLATE_SOURCE
    "https://deb.debian.org/debian/pool/main/libd/libdeflate/libdeflate_${ZEVRIN_LIBDEFLATE_VERSION}.orig.tar.gz"
    CACHE STRING "libdeflate source tarball (URL or file) for the Windows tool")

set(libdeflate_dir ${PROJECT_BINARY_DIR}/libdeflate-${ZEVRIN_LIBDEFLATE_VERSION})
set(libdeflate_lib ${libdeflate_dir}/libdeflatestatic.lib)
ExternalProject_Add(libdeflate_source
    URL ${ZEVRIN_LIBDEFLATE_SOURCE}
    URL_HASH SHA256=${ZEVRIN_LIBDEFLATE_SHA256}
    DOWNLOAD_NAME libdeflate_${ZEVRIN_LIBDEFLATE_VERSION}.orig.tar.gz
    DOWNLOAD_DIR ${PROJECT_BINARY_DIR}/downloads
    DOWNLOAD_EXTRACT_TIMESTAMP ON
    SOURCE_DIR ${libdeflate_dir}
    BUILD_IN_SOURCE ON
    CONFIGURE_COMMAND ""
    # Its own make, away from the calling make's job server.
    BUILD_COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS
                  make CC=${CMAKE_C_COMPILER} AR=${CMAKE_AR} libdeflatestatic.lib
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${libdeflate_lib})

# The header directory must exist when the imported target is defined.
file(MAKE_DIRECTORY ${libdeflate_dir})
add_library(zevrin_libdeflate_static STATIC IMPORTED GLOBAL)
set_target_properties(zevrin_libdeflate_static PROPERTIES
    IMPORTED_LOCATION ${libdeflate_lib}
    INTERFACE_INCLUDE_DIRECTORIES ${libdeflate_dir})
add_dependencies(zevrin_libdeflate_static libdeflate_source)
add_library(zevrin::libdeflate ALIAS zevrin_libdeflate_static)
