# BLAKE3, the official C implementation as Debian ships it (librust-blake3-dev, its c/ folder),
# built here as the static library blake3 for every preset: portable code plus the SIMD kernels,
# picked at run time by the library's own CPU dispatch.
find_path(VEMLO_BLAKE3_DIR blake3.h PATHS /usr/share/cargo/registry/blake3-1.3.1/c
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT VEMLO_BLAKE3_DIR)
  message(FATAL_ERROR "BLAKE3's C sources not found: install librust-blake3-dev (scripts/bootstrap does)")
endif()
set(_b3 ${VEMLO_BLAKE3_DIR})
add_library(blake3 STATIC ${_b3}/blake3.c ${_b3}/blake3_dispatch.c ${_b3}/blake3_portable.c)
target_include_directories(blake3 SYSTEM PUBLIC ${_b3})

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  # The project's own assembly for 64-bit: GCC for Windows cannot realign the stack to the 32 and
  # 64 bytes that spilled AVX2/AVX-512 registers need (the intrinsics would fault there).
  enable_language(ASM)
  if(WIN32)
    set(_flavour windows_gnu)
  else()
    set(_flavour unix)
  endif()
  foreach(_kernel sse2 sse41 avx2 avx512)
    target_sources(blake3 PRIVATE ${_b3}/blake3_${_kernel}_x86-64_${_flavour}.S)
  endforeach()
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i686|i386|x86)$")
  # No assembly for 32-bit: the intrinsics, each file with its own instruction set. 32-bit
  # Windows promises 4-byte stack alignment only, so every function that spills a vector realigns
  # its own frame. The stub is the product and stays small: SSE4.1 and AVX2 only (about 30 KB at
  # -Os); a processor without SSE4.1 (none made since about 2011) hashes with the portable code.
  target_sources(blake3 PRIVATE ${_b3}/blake3_sse41.c ${_b3}/blake3_avx2.c)
  set_source_files_properties(${_b3}/blake3_sse41.c PROPERTIES COMPILE_OPTIONS "-msse4.1;-mincoming-stack-boundary=2")
  set_source_files_properties(${_b3}/blake3_avx2.c PROPERTIES COMPILE_OPTIONS "-mavx2;-mincoming-stack-boundary=2")
  target_compile_definitions(blake3 PRIVATE BLAKE3_NO_SSE2 BLAKE3_NO_AVX512)
else()
  target_compile_definitions(blake3 PRIVATE BLAKE3_NO_SSE2 BLAKE3_NO_SSE41 BLAKE3_NO_AVX2 BLAKE3_NO_AVX512)
endif()
