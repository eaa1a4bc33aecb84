# The Windows build links libcurl statically (scripts/build-windows-deps): a static library
# carries no list of what it needs, so libcurl's own libraries are named here, and its header
# is told that no DLL import is meant.
find_library(QUILLFEN_LIBSSH2 NAMES ssh2 REQUIRED)
# MinGW's zlib comes as a DLL and as an archive: the archive, so that the program stands alone.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)
set_property(TARGET CURL::libcurl APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS CURL_STATICLIB)
set_property(TARGET CURL::libcurl APPEND PROPERTY INTERFACE_LINK_LIBRARIES
  ${QUILLFEN_LIBSSH2} OpenSSL::SSL OpenSSL::Crypto ZLIB::ZLIB ws2_32 crypt32 bcrypt advapi32 gdi32)
