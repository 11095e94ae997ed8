# zstd (RFC 8878) from Debian's source package, which scripts/deps.sh unpacks into build/deps/zstd: the version
# is recorded once, in cmake/zstd.txt. Two static libraries: zstd_decoder (lib/common and lib/decompress, what
# the updater may link) and zstd_encoder (lib/compress on the decoder's common part, what mkupdate links).
# Every tree compiles them with the same definitions, so the native and the Windows builder write the same
# frames: single-threaded, no legacy formats, no assembly, no tracing hooks, no debug code, and xxHash's
# symbols under zstd's own prefix. Their warnings are not ours to keep.
file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/zstd.txt ZSTD_DEBIAN_VERSION LIMIT_COUNT 1)
string(STRIP "${ZSTD_DEBIAN_VERSION}" ZSTD_DEBIAN_VERSION)
# Derived from the source folder, never cached: a tree configured before zstd came in needs nothing new.
set(ZSTD_SOURCE_DIR ${CMAKE_SOURCE_DIR}/build/deps/zstd)
set(ZSTD_REFETCH "run `bash scripts/deps.sh` (it fetches Debian's libzstd ${ZSTD_DEBIAN_VERSION} into build/deps/zstd)")
if(NOT EXISTS ${ZSTD_SOURCE_DIR}/lib/zstd.h OR NOT EXISTS ${ZSTD_SOURCE_DIR}/debian/changelog)
  message(FATAL_ERROR "zstd's sources are missing from ${ZSTD_SOURCE_DIR}: ${ZSTD_REFETCH}")
endif()
# The unpacked folder must be the recorded version twice over: Debian's first changelog entry, and the
# upstream version that lib/zstd.h declares ("1.5.4+dfsg2-5" is upstream 1.5.4).
file(STRINGS ${ZSTD_SOURCE_DIR}/debian/changelog ZSTD_CHANGELOG_TOP LIMIT_COUNT 1)
string(REGEX REPLACE "^[^ ]+ \\(([^)]+)\\).*" "\\1" ZSTD_UNPACKED_VERSION "${ZSTD_CHANGELOG_TOP}")
file(STRINGS ${ZSTD_SOURCE_DIR}/lib/zstd.h ZSTD_VERSION_LINES REGEX "^#define ZSTD_VERSION_(MAJOR|MINOR|RELEASE) ")
set(ZSTD_HEADER_VERSION "")
foreach(part MAJOR MINOR RELEASE)
  string(REGEX MATCH "ZSTD_VERSION_${part} +([0-9]+)" matched "${ZSTD_VERSION_LINES}")
  list(APPEND ZSTD_HEADER_VERSION "${CMAKE_MATCH_1}")
endforeach()
list(JOIN ZSTD_HEADER_VERSION "." ZSTD_HEADER_VERSION)
string(REGEX REPLACE "^([0-9.]+).*" "\\1" ZSTD_RECORDED_UPSTREAM "${ZSTD_DEBIAN_VERSION}")
if(NOT ZSTD_UNPACKED_VERSION STREQUAL ZSTD_DEBIAN_VERSION OR NOT ZSTD_HEADER_VERSION STREQUAL ZSTD_RECORDED_UPSTREAM)
  message(FATAL_ERROR "${ZSTD_SOURCE_DIR} holds zstd ${ZSTD_HEADER_VERSION} (Debian ${ZSTD_UNPACKED_VERSION}), "
                      "not the recorded ${ZSTD_DEBIAN_VERSION}: ${ZSTD_REFETCH}")
endif()
# A new recorded version, or a new unpacked folder, configures again.
set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${CMAKE_SOURCE_DIR}/cmake/zstd.txt ${ZSTD_SOURCE_DIR}/debian/changelog)

set(ZSTD_LIB ${ZSTD_SOURCE_DIR}/lib)
set(ZSTD_DEFINITIONS ZSTD_LEGACY_SUPPORT=0 ZSTD_DISABLE_ASM ZSTD_TRACE=0 DEBUGLEVEL=0 XXH_NAMESPACE=ZSTD_)
add_library(zstd_decoder STATIC
            ${ZSTD_LIB}/common/debug.c ${ZSTD_LIB}/common/entropy_common.c ${ZSTD_LIB}/common/error_private.c
            ${ZSTD_LIB}/common/fse_decompress.c ${ZSTD_LIB}/common/xxhash.c ${ZSTD_LIB}/common/zstd_common.c
            ${ZSTD_LIB}/decompress/huf_decompress.c ${ZSTD_LIB}/decompress/zstd_ddict.c
            ${ZSTD_LIB}/decompress/zstd_decompress.c ${ZSTD_LIB}/decompress/zstd_decompress_block.c)
# pool.c and threading.c are stand-ins without ZSTD_MULTITHREAD; zstdmt_compress.c compiles to the single
# thread's path.
add_library(zstd_encoder STATIC
            ${ZSTD_LIB}/common/pool.c ${ZSTD_LIB}/common/threading.c
            ${ZSTD_LIB}/compress/fse_compress.c ${ZSTD_LIB}/compress/hist.c ${ZSTD_LIB}/compress/huf_compress.c
            ${ZSTD_LIB}/compress/zstd_compress.c ${ZSTD_LIB}/compress/zstd_compress_literals.c
            ${ZSTD_LIB}/compress/zstd_compress_sequences.c ${ZSTD_LIB}/compress/zstd_compress_superblock.c
            ${ZSTD_LIB}/compress/zstd_double_fast.c ${ZSTD_LIB}/compress/zstd_fast.c ${ZSTD_LIB}/compress/zstd_lazy.c
            ${ZSTD_LIB}/compress/zstd_ldm.c ${ZSTD_LIB}/compress/zstd_opt.c ${ZSTD_LIB}/compress/zstdmt_compress.c)
target_link_libraries(zstd_encoder PUBLIC zstd_decoder)
foreach(library zstd_decoder zstd_encoder)
  target_compile_definitions(${library} PRIVATE ${ZSTD_DEFINITIONS})
  target_include_directories(${library} SYSTEM PUBLIC ${ZSTD_LIB})
  target_compile_options(${library} PRIVATE -w)
  # Under the sanitizers (build/fuzz) every check stays on but one: zstd 1.5.4 computes the addresses it only
  # prefetches from a null dictionary end (decompress/zstd_decompress_block.c, ZSTD_prefetchMatch), which
  # UBSan's pointer-overflow check reports although nothing is read there. ASan still sees every access.
  if(GARASU_SANITIZE)
    target_compile_options(${library} PRIVATE -fno-sanitize=pointer-overflow)
  endif()
endforeach()
# The decoder runs in the updater's reading thread, in place of a copy's plain read: compiled for speed where
# the rest of the Windows programs are compiled for size (measured: a compressed package applied in 1.61 times
# the stored one's time at -Os, 1.21 at -O2, for 39 KB of image).
if(WIN32)
  target_compile_options(zstd_decoder PRIVATE -O2)
endif()
