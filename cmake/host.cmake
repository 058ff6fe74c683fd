# Host build: the packer and its tests.
enable_language(ASM)
find_package(PkgConfig REQUIRED)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
find_package(Threads REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
set(ONEFILE_PACKER_ZSTD PkgConfig::ZSTD)

add_subdirectory(${ONEFILE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)

# The packer embeds the template launchers that the Windows build writes.
set(ONEFILE_TEMPLATE_DIR ${CMAKE_BINARY_DIR}/../win/templates CACHE PATH "The Windows build's template launchers")
set(ONEFILE_BIN_DIR ${CMAKE_BINARY_DIR}/bin CACHE PATH "Where onefile-pack is written")

add_compile_options(-Wall -Wextra)
add_subdirectory(packer)

# The pure modules of the on-disk layouts, shared with the launcher, and their
# tests on the host.
add_library(onefile_layouts STATIC ${PROJECT_SOURCE_DIR}/payload/cache_record.cpp)
target_include_directories(onefile_layouts PUBLIC ${PROJECT_SOURCE_DIR})
add_executable(onefile_layout_tests
  ${PROJECT_SOURCE_DIR}/payload/tests/cache_record_test.cpp
  ${PROJECT_SOURCE_DIR}/paths/tests/target_folder_name_test.cpp)
target_link_libraries(onefile_layout_tests PRIVATE onefile_layouts gtest_main)
gtest_discover_tests(onefile_layout_tests)
