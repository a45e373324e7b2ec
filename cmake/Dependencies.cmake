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
  # One static exe, no MinGW runtime DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  find_package(BZip2 REQUIRED)
  find_package(CURL REQUIRED)
endif()
