# zlib's inflate side for the Windows images, compiled from Debian's source package (unpacked
# by scripts/bootstrap) with the images' own flags: Debian's prebuilt libz.a is P6 code.
set(ZLIB_SOURCE_DIR /var/cache/tabrin-setup-sources/zlib CACHE PATH
    "Debian's zlib source package, unpacked")
if(NOT EXISTS ${ZLIB_SOURCE_DIR}/zlib.h)
  message(FATAL_ERROR "No zlib source in ${ZLIB_SOURCE_DIR}: run scripts/bootstrap as root.")
endif()
set(ZLIB_INFLATE_SOURCES adler32.c crc32.c inffast.c inflate.c inftrees.c zutil.c)
list(TRANSFORM ZLIB_INFLATE_SOURCES PREPEND ${ZLIB_SOURCE_DIR}/)
add_library(zlib_inflate STATIC ${ZLIB_INFLATE_SOURCES})
target_include_directories(zlib_inflate SYSTEM PUBLIC ${ZLIB_SOURCE_DIR})
runtime_code(zlib_inflate)
# Its allocation comes from the C runtime DLL, which must follow it on the link line.
target_link_libraries(zlib_inflate INTERFACE ${RUNTIME_CRT})
