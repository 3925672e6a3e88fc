# xdelta3 (VCDIFF, RFC 3284) as a static library of ours, built from the
# single-file library form of Debian's source package, which ./run setup
# unpacks under build/deps/. Nothing of its source is kept in the tree.
file(GLOB VANTOREL_XDELTA3_DIRS LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/build/deps/xdelta3-*)
set(VANTOREL_XDELTA3_DIR "")
foreach(dir ${VANTOREL_XDELTA3_DIRS})
  if(EXISTS ${dir}/xdelta3.c AND EXISTS ${dir}/xdelta3.h)
    set(VANTOREL_XDELTA3_DIR ${dir})
  endif()
endforeach()
if(NOT VANTOREL_XDELTA3_DIR)
  message(FATAL_ERROR "xdelta3's source is not unpacked under ${CMAKE_SOURCE_DIR}/build/deps: "
    "run ./run setup, which fetches Debian's source package of xdelta3")
endif()

include(CheckTypeSize)
check_type_size("size_t" VANTOREL_SIZEOF_SIZE_T LANGUAGE C)
check_type_size("unsigned long" VANTOREL_SIZEOF_UNSIGNED_LONG LANGUAGE C)
check_type_size("unsigned long long" VANTOREL_SIZEOF_UNSIGNED_LONG_LONG LANGUAGE C)

add_library(vantorel_xdelta3 STATIC ${VANTOREL_XDELTA3_DIR}/xdelta3.c)
# The same definitions for the library and for the one file of ours that
# includes xdelta3.h, so both see the same structure layouts: 64-bit file
# offsets on every side, no secondary compressors (DJW, FGK, LZMA), no main().
target_compile_definitions(vantorel_xdelta3 PUBLIC
  SIZEOF_SIZE_T=${VANTOREL_SIZEOF_SIZE_T}
  SIZEOF_UNSIGNED_LONG=${VANTOREL_SIZEOF_UNSIGNED_LONG}
  SIZEOF_UNSIGNED_LONG_LONG=${VANTOREL_SIZEOF_UNSIGNED_LONG_LONG}
  XD3_USE_LARGEFILE64=1 XD3_MAIN=0 XD3_DEBUG=0 REGRESSION_TEST=0
  # Word loads at any address are undefined behaviour, which the sanitized
  # trees stop on; the byte-wise hash costs the encoder little.
  UNALIGNED_OK=0
  SECONDARY_DJW=0 SECONDARY_FGK=0 SECONDARY_LZMA=0)
target_include_directories(vantorel_xdelta3 SYSTEM PUBLIC ${VANTOREL_XDELTA3_DIR})
# Third-party code: its warnings are not ours to fix, and must not fail a tree
# that builds with -Werror.
target_compile_options(vantorel_xdelta3 PRIVATE -w -Wno-error)
# Where a delta has an empty section, xdelta3 adds a zero offset to its null
# pointer and copies zero bytes from it (an ADD of size 0): harmless, but
# undefined in C, and a delta can ask for it. Only these two checks are left
# out, only here; fuzz/corpus/vcdiff keeps such deltas.
if(VANTOREL_SANITIZE OR VANTOREL_FUZZ)
  target_compile_options(vantorel_xdelta3 PRIVATE -fno-sanitize=pointer-overflow,nonnull-attribute)
endif()
