# zstd, one version for every build. Natively Debian's libzstd-dev (linked statically); for
# Windows the same version's sources from Debian's source package libzstd, which
# scripts/fetch-zstd puts in /var/cache/vemlo/zstd-<version>, built here as static libraries the
# way BLAKE3 is. Two targets: zstd_decoder (the decoder alone, all the stub carries) and zstd (the
# encoder too, for vpack; it links zstd_decoder).
find_path(VEMLO_ZSTD_INCLUDE zstd.h PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT VEMLO_ZSTD_INCLUDE)
  message(FATAL_ERROR "zstd.h not found: install libzstd-dev (scripts/bootstrap does)")
endif()
file(STRINGS ${VEMLO_ZSTD_INCLUDE}/zstd.h _zv REGEX "^#define ZSTD_VERSION_(MAJOR|MINOR|RELEASE) +[0-9]+")
string(REGEX REPLACE ".*MAJOR +([0-9]+).*MINOR +([0-9]+).*RELEASE +([0-9]+).*" "\\1.\\2.\\3" VEMLO_ZSTD_VERSION "${_zv}")

if(NOT WIN32)
  find_library(VEMLO_ZSTD_LIB NAMES libzstd.a PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE} /usr/lib
               NO_DEFAULT_PATH)
  if(NOT VEMLO_ZSTD_LIB)
    message(FATAL_ERROR "libzstd.a not found: install libzstd-dev (scripts/bootstrap does)")
  endif()
  add_library(zstd_decoder INTERFACE)
  target_include_directories(zstd_decoder SYSTEM INTERFACE ${VEMLO_ZSTD_INCLUDE})
  target_link_libraries(zstd_decoder INTERFACE ${VEMLO_ZSTD_LIB})
  add_library(zstd INTERFACE)
  target_link_libraries(zstd INTERFACE zstd_decoder)
  # Debian's library is built with ZSTD_MULTITHREAD: it starts its workers with pthreads.
  find_package(Threads REQUIRED)
  target_link_libraries(zstd INTERFACE Threads::Threads)
  return()
endif()

find_path(VEMLO_ZSTD_DIR lib/zstd.h PATHS /var/cache/vemlo/zstd-${VEMLO_ZSTD_VERSION}
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT VEMLO_ZSTD_DIR)
  message(FATAL_ERROR "zstd ${VEMLO_ZSTD_VERSION}'s sources not found in /var/cache/vemlo: run scripts/fetch-zstd "
                      "(scripts/bootstrap does)")
endif()
set(_z ${VEMLO_ZSTD_DIR}/lib)
add_library(zstd_decoder STATIC
  ${_z}/common/debug.c ${_z}/common/entropy_common.c ${_z}/common/error_private.c ${_z}/common/fse_decompress.c
  ${_z}/common/xxhash.c ${_z}/common/zstd_common.c
  ${_z}/decompress/huf_decompress.c ${_z}/decompress/zstd_ddict.c ${_z}/decompress/zstd_decompress.c
  ${_z}/decompress/zstd_decompress_block.c)
target_include_directories(zstd_decoder SYSTEM PUBLIC ${_z})
# XXH_NAMESPACE as zstd's own build sets it; no assembly (its x86-64 kernel is for ELF only); no
# decoder of the pre-1.0 formats, nothing writes them.
target_compile_definitions(zstd_decoder PUBLIC XXH_NAMESPACE=ZSTD_ ZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0)
# The 64-bit stub must fit its 307200 bytes as well: one copy of the decoder's hot loops (no
# second one for BMI2 processors) at -O2.
target_compile_definitions(zstd_decoder PRIVATE DYNAMIC_BMI2=0)
if(CMAKE_BUILD_TYPE STREQUAL "Release")
  target_compile_options(zstd_decoder PRIVATE -O2)
endif()
if(VEMLO_ZSTD_SMALL_DECODER)
  target_compile_definitions(zstd_decoder PRIVATE HUF_FORCE_DECOMPRESS_X1 ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT)
endif()

add_library(zstd STATIC
  ${_z}/common/pool.c ${_z}/common/threading.c
  ${_z}/compress/fse_compress.c ${_z}/compress/hist.c ${_z}/compress/huf_compress.c ${_z}/compress/zstd_compress.c
  ${_z}/compress/zstd_compress_literals.c ${_z}/compress/zstd_compress_sequences.c
  ${_z}/compress/zstd_compress_superblock.c ${_z}/compress/zstd_double_fast.c ${_z}/compress/zstd_fast.c
  ${_z}/compress/zstd_lazy.c ${_z}/compress/zstd_ldm.c ${_z}/compress/zstd_opt.c ${_z}/compress/zstdmt_compress.c)
# Workers on Windows threads (common/threading.c), so vpack compresses on every core.
target_compile_definitions(zstd PUBLIC ZSTD_MULTITHREAD)
target_link_libraries(zstd PUBLIC zstd_decoder)
