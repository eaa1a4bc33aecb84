# Cross-building the Windows program on Debian with MinGW-w64 (64-bit, POSIX threads, for
# std::thread and std::jthread). Programs are linked statically, so that quillfen.exe and the
# test programs stand alone, and run under Wine: ctest starts them through wine64.
#
# QUILLFEN_WIN64_DEPS names the prefix of the cross-built libraries (OpenSSL, libssh2, libcurl)
# that scripts/build-windows-deps printed.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLFEN_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLFEN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLFEN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLFEN_MINGW_TRIPLE}-windres)

# try_compile projects read this file again and need the prefix as well.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILLFEN_WIN64_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLFEN_MINGW_TRIPLE} ${QUILLFEN_WIN64_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static archives only: the prefix holds no import libraries, and MinGW's zlib is taken as
# libz.a rather than its DLL.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(OPENSSL_USE_STATIC_LIBS TRUE)
# The build machine's pkg-config would describe the Linux libraries.
set(PKG_CONFIG_EXECUTABLE ${QUILLFEN_MINGW_TRIPLE}-pkg-config)
set(ENV{PKG_CONFIG_PATH} ${QUILLFEN_WIN64_DEPS}/lib/pkgconfig)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
# Wine keeps its Windows folders and registry in a prefix of the build's own, so that the tests
# find the same machine on every run and nothing of the user's own prefix (~/.wine) is touched.
# No Mono or Gecko is asked for: console programs need neither.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml= /usr/lib/wine/wine64)
