# Host build: the packer and its tests.
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
find_package(Threads REQUIRED)

add_subdirectory(${ONEFILE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# The command users run lives at build/bin, next to the launcher kit in
# build/lib/onefile that the Windows build fills.
set(ONEFILE_BIN_DIR ${PROJECT_SOURCE_DIR}/build/bin CACHE PATH "Where onefile-pack is written")

add_compile_options(-Wall -Wextra)
add_subdirectory(packer)
