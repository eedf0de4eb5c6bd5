# The libraries scripts/windows-deps.sh built for MinGW-w64, under the names
# the Linux build's pkg-config and FindOpenSSL give them, so that the targets
# are written once for both systems.
function(kavlento_static_library target header)
    find_path(${target}_INCLUDE ${header} REQUIRED)
    find_library(${target}_LIBRARY NAMES ${ARGN} REQUIRED)
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    target_include_directories(${target} INTERFACE ${${target}_INCLUDE})
    target_link_libraries(${target} INTERFACE ${${target}_LIBRARY})
endfunction()

kavlento_static_library(PkgConfig::LIBZIP zip.h zip)
target_link_libraries(PkgConfig::LIBZIP INTERFACE bcrypt)
kavlento_static_library(PkgConfig::LIBDEFLATE libdeflate.h deflate)
kavlento_static_library(OpenSSL::Crypto openssl/evp.h crypto)
target_link_libraries(OpenSSL::Crypto INTERFACE ws2_32 crypt32 user32 advapi32 bcrypt)
