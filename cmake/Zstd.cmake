# The zstd decoder as target kivo_zstd. Linux builds take Debian's libzstd. The Windows
# builds compile the decoder alone (no encoder, no assembly, no threads) from the upstream
# source that scripts/install-deps.sh fetched from Debian's archive and checked by its hash.
if(TARGET kivo_zstd)
  return()
endif()

if(WIN32)
  set(KIVO_ZSTD_SOURCE "${PROJECT_SOURCE_DIR}/build/sources/zstd-1.5.7/lib" CACHE PATH
      "The lib folder of the zstd source the Windows builds compile")
  if(NOT EXISTS "${KIVO_ZSTD_SOURCE}/zstd.h")
    message(FATAL_ERROR "No zstd source at ${KIVO_ZSTD_SOURCE}: run scripts/install-deps.sh, "
                        "which fetches it, or set KIVO_ZSTD_SOURCE to a zstd 1.5 lib folder.")
  endif()
  set(zstd_parts
      common/debug.c common/entropy_common.c common/error_private.c common/fse_decompress.c
      common/xxhash.c common/zstd_common.c
      decompress/huf_decompress.c decompress/zstd_ddict.c decompress/zstd_decompress.c
      decompress/zstd_decompress_block.c)
  list(TRANSFORM zstd_parts PREPEND "${KIVO_ZSTD_SOURCE}/")
  add_library(kivo_zstd STATIC ${zstd_parts})
  target_include_directories(kivo_zstd SYSTEM PUBLIC "${KIVO_ZSTD_SOURCE}")
  target_compile_definitions(kivo_zstd PRIVATE ZSTD_DISABLE_ASM=1 ZSTD_LEGACY_SUPPORT=0
                                               XXH_NAMESPACE=ZSTD_)
  set_target_properties(kivo_zstd PROPERTIES C_STANDARD 99)
else()
  find_path(KIVO_ZSTD_INCLUDE zstd.h REQUIRED)
  find_library(KIVO_ZSTD_LIBRARY zstd REQUIRED)
  add_library(kivo_zstd INTERFACE)
  target_include_directories(kivo_zstd SYSTEM INTERFACE "${KIVO_ZSTD_INCLUDE}")
  target_link_libraries(kivo_zstd INTERFACE "${KIVO_ZSTD_LIBRARY}")
endif()
