# Third-party code is installed by scripts/setup, never vendored.
find_package(Threads REQUIRED)

if(WIN32)
  # libbz2 from Debian's bzip2 source package, built for MinGW. BZ_NO_STDIO lets the launcher supply
  # the library's internal-error hook.
  set(VANDREL_DEPS_DIR "/var/cache/vandrel-deps" CACHE PATH "Where scripts/setup put third-party sources")
  file(GLOB _bzip2_dirs LIST_DIRECTORIES true "${VANDREL_DEPS_DIR}/bzip2-*")
  list(FILTER _bzip2_dirs EXCLUDE REGEX "\\.(gz|bz2|xz|dsc)$")
  list(GET _bzip2_dirs 0 BZIP2_SOURCE_DIR)
  if(NOT EXISTS "${BZIP2_SOURCE_DIR}/bzlib.c")
    message(FATAL_ERROR "bzip2 sources not found in ${VANDREL_DEPS_DIR}; run scripts/setup")
  endif()
  add_library(bz2 STATIC
    ${BZIP2_SOURCE_DIR}/blocksort.c ${BZIP2_SOURCE_DIR}/huffman.c ${BZIP2_SOURCE_DIR}/crctable.c
    ${BZIP2_SOURCE_DIR}/randtable.c ${BZIP2_SOURCE_DIR}/compress.c ${BZIP2_SOURCE_DIR}/decompress.c
    ${BZIP2_SOURCE_DIR}/bzlib.c)
  target_include_directories(bz2 SYSTEM PUBLIC ${BZIP2_SOURCE_DIR})
  target_compile_definitions(bz2 PUBLIC BZ_NO_STDIO)
  target_compile_options(bz2 PRIVATE -O2 -w)
  add_library(BZip2::BZip2 ALIAS bz2)
  # libzstd from Debian's zstd source package, built for MinGW the same way (single-threaded, no
  # assembly; the launcher only decompresses, so only that part ends up in its exe).
  file(GLOB _zstd_dirs LIST_DIRECTORIES true "${VANDREL_DEPS_DIR}/libzstd-*")
  list(FILTER _zstd_dirs EXCLUDE REGEX "\\.(gz|bz2|xz|dsc|asc)$")
  list(GET _zstd_dirs 0 ZSTD_SOURCE_DIR)
  if(NOT EXISTS "${ZSTD_SOURCE_DIR}/lib/zstd.h")
    message(FATAL_ERROR "zstd sources not found in ${VANDREL_DEPS_DIR}; run scripts/setup")
  endif()
  file(GLOB _zstd_sources ${ZSTD_SOURCE_DIR}/lib/common/*.c ${ZSTD_SOURCE_DIR}/lib/compress/*.c
    ${ZSTD_SOURCE_DIR}/lib/decompress/*.c)
  add_library(zstd STATIC ${_zstd_sources})
  target_include_directories(zstd SYSTEM PUBLIC ${ZSTD_SOURCE_DIR}/lib)
  target_compile_definitions(zstd PRIVATE ZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0)
  target_compile_options(zstd PRIVATE -O2 -w)
  add_library(Zstd::Zstd ALIAS zstd)
  # libsodium from Debian's source package, built for MinGW by scripts/setup (static).
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(_sodium_arch x86_64)
  else()
    set(_sodium_arch i686)
  endif()
  set(_sodium_dir "${VANDREL_DEPS_DIR}/libsodium-${_sodium_arch}-w64-mingw32")
  if(NOT EXISTS "${_sodium_dir}/lib/libsodium.a")
    message(FATAL_ERROR "libsodium for MinGW not found in ${_sodium_dir}; run scripts/setup")
  endif()
  add_library(Sodium::Sodium STATIC IMPORTED GLOBAL)
  set_target_properties(Sodium::Sodium PROPERTIES IMPORTED_LOCATION "${_sodium_dir}/lib/libsodium.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_sodium_dir}/include" INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC
    INTERFACE_LINK_LIBRARIES advapi32)
  # One static exe, no MinGW runtime DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # A release exe carries no symbols: the static runtime's debug sections would double its size, and
  # the loader reads them at every start.
  add_link_options($<$<CONFIG:Release>:-s>)
else()
  find_package(BZip2 REQUIRED)
  find_package(CURL REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET GLOBAL libsodium)
  add_library(Sodium::Sodium ALIAS PkgConfig::SODIUM)
  pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET GLOBAL libzstd)
  add_library(Zstd::Zstd ALIAS PkgConfig::ZSTD)
endif()
