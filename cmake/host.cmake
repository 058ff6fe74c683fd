# Host build: the packer and its tests.
enable_language(ASM)
find_package(Threads REQUIRED)

# libzstd and libcrypto are linked statically, and so are the C++ runtime
# and libgcc: the packer then runs on any x86-64 Linux with the C library
# alone (the tarball's promise), and the .deb's dependencies are those of
# the C library.
set(ONEFILE_ZSTD_LINUX_PREFIX ${PROJECT_SOURCE_DIR}/build/deps/zstd-linux-mt CACHE PATH "libzstd with threads, static, for Linux")
add_library(zstd_static STATIC IMPORTED)
set_target_properties(zstd_static PROPERTIES
  IMPORTED_LOCATION ${ONEFILE_ZSTD_LINUX_PREFIX}/lib/libzstd.a
  INTERFACE_INCLUDE_DIRECTORIES ${ONEFILE_ZSTD_LINUX_PREFIX}/include
  INTERFACE_LINK_LIBRARIES Threads::Threads)
set(ONEFILE_PACKER_ZSTD zstd_static)
find_path(ONEFILE_OPENSSL_INCLUDE_DIR openssl/evp.h REQUIRED)
find_library(ONEFILE_CRYPTO_STATIC libcrypto.a REQUIRED)
add_library(crypto_static STATIC IMPORTED)
set_target_properties(crypto_static PROPERTIES
  IMPORTED_LOCATION ${ONEFILE_CRYPTO_STATIC}
  INTERFACE_INCLUDE_DIRECTORIES ${ONEFILE_OPENSSL_INCLUDE_DIR}
  INTERFACE_LINK_LIBRARIES "Threads::Threads;${CMAKE_DL_LIBS}")
add_link_options(-static-libstdc++ -static-libgcc)

add_subdirectory(${ONEFILE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# The packer embeds the template launchers that the Windows build writes.
set(ONEFILE_TEMPLATE_DIR ${CMAKE_BINARY_DIR}/../win/templates CACHE PATH "The Windows build's template launchers")
set(ONEFILE_BIN_DIR ${CMAKE_BINARY_DIR}/bin CACHE PATH "Where onefile-pack is written")

add_compile_options(-Wall -Wextra)
# What the packer writes and the launcher reads, with its tests; then the
# packer.
add_subdirectory(contract)
add_subdirectory(packer)
