# The C libraries the Windows programs link statically. scripts/bootstrap
# cross-builds each from Debian's source package into one folder per library
# and target below UPDATER_DEPS_DIR: <name>-mingw32 (i686) or <name>-mingw64
# (x86_64), each with include/ and lib/. Natively the system's packages serve.
set(UPDATER_DEPS_DIR ${CMAKE_SOURCE_DIR}/.deps CACHE PATH
    "Folder of the cross-built Windows libraries (scripts/bootstrap fills it)")

# updater_cross_prefix(OUT NAME): the folder of library NAME for this build's
# Windows target.
function(updater_cross_prefix out name)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(${out} ${UPDATER_DEPS_DIR}/${name}-mingw64 PARENT_SCOPE)
  else()
    set(${out} ${UPDATER_DEPS_DIR}/${name}-mingw32 PARENT_SCOPE)
  endif()
endfunction()

# updater_import_static(TARGET PREFIX ARCHIVE [DEFINITIONS ...] [LINK ...]):
# an imported target for the static library PREFIX/lib/ARCHIVE with the
# headers of PREFIX/include; DEFINITIONS and LINK go to whoever links it.
# A missing library stops the configuration, naming the file and the fix.
function(updater_import_static target prefix archive)
  cmake_parse_arguments(L "" "" "DEFINITIONS;LINK" ${ARGN})
  if(TARGET ${target})
    return()
  endif()
  if(NOT EXISTS ${prefix}/lib/${archive})
    message(FATAL_ERROR "${target}: ${prefix}/lib/${archive} is missing; run scripts/bootstrap "
                        "(it cross-builds the Windows libraries) or set the prefix")
  endif()
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION ${prefix}/lib/${archive}
    INTERFACE_INCLUDE_DIRECTORIES ${prefix}/include)
  if(L_DEFINITIONS)
    set_property(TARGET ${target} PROPERTY INTERFACE_COMPILE_DEFINITIONS ${L_DEFINITIONS})
  endif()
  if(L_LINK)
    set_property(TARGET ${target} PROPERTY INTERFACE_LINK_LIBRARIES ${L_LINK})
  endif()
endfunction()

if(WIN32)
  # libjpeg-turbo: the window's background picture.
  updater_cross_prefix(jpeg_default jpeg)
  set(UPDATER_JPEG_PREFIX ${jpeg_default} CACHE PATH "Cross-built libjpeg for Windows")
  updater_import_static(updater_jpeg ${UPDATER_JPEG_PREFIX} libjpeg.a)
  # libsodium: the list signature. Random bytes for key generation come from
  # RtlGenRandom (advapi32).
  updater_cross_prefix(sodium_default sodium)
  set(UPDATER_SODIUM_PREFIX ${sodium_default} CACHE PATH "Cross-built libsodium for Windows")
  updater_import_static(updater_sodium ${UPDATER_SODIUM_PREFIX} libsodium.a
                        DEFINITIONS SODIUM_STATIC LINK advapi32)
  # libzstd: compressed copies and delta patches. One build for both
  # programs (the linker keeps the decoder alone in the updater); its
  # compressor's worker threads are Windows threads.
  updater_cross_prefix(zstd_default zstd)
  set(UPDATER_ZSTD_PREFIX ${zstd_default} CACHE PATH "Cross-built libzstd for Windows")
  updater_import_static(updater_zstd ${UPDATER_ZSTD_PREFIX} libzstd.a)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  if(NOT TARGET updater_sodium)
    add_library(updater_sodium INTERFACE IMPORTED GLOBAL)
    set_target_properties(updater_sodium PROPERTIES INTERFACE_LINK_LIBRARIES PkgConfig::SODIUM)
  endif()
  pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
  if(NOT TARGET updater_zstd)
    add_library(updater_zstd INTERFACE IMPORTED GLOBAL)
    set_target_properties(updater_zstd PROPERTIES INTERFACE_LINK_LIBRARIES PkgConfig::ZSTD)
  endif()
endif()
