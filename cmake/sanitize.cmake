# Sanitizer build (build/sanitize, run by make test): the host tests of the
# code that reads bytes it cannot trust (the PE reader, the payload reader,
# the cache record and the other on-disk layouts), built with
# AddressSanitizer and UndefinedBehaviorSanitizer. A read outside a buffer or
# an overflow then fails the test where it happens, instead of passing
# unnoticed as it mostly would without them.
find_package(Threads REQUIRED)
set(ONEFILE_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(-O1 -g -Wall -Wextra ${ONEFILE_SANITIZERS})
add_link_options(${ONEFILE_SANITIZERS})

# Debian's prebuilt GoogleTest: it needs no sanitizers of its own, and
# building it would only add to the test run's time.
find_package(GTest REQUIRED)
add_library(gtest_main ALIAS GTest::gtest_main)
include(GoogleTest)

# The PE reader and its tests, as in the host build.
add_library(onefile_pack_common STATIC ${PROJECT_SOURCE_DIR}/packer/utf.cpp ${PROJECT_SOURCE_DIR}/packer/pack_error.cpp)
target_include_directories(onefile_pack_common PUBLIC ${PROJECT_SOURCE_DIR})
add_subdirectory(${PROJECT_SOURCE_DIR}/packer/pe ${CMAKE_BINARY_DIR}/pe)

# The contract's tests (cache record, data section, little-endian fields,
# target folder names), as in the host build.
add_subdirectory(${PROJECT_SOURCE_DIR}/contract ${CMAKE_BINARY_DIR}/contract)

# The payload reader with the Windows build's reader tests, against the
# host's libzstd (the one the host packer links); fatal ends run in a
# forked copy of the test.
set(ONEFILE_ZSTD_LINUX_PREFIX ${PROJECT_SOURCE_DIR}/build/deps/zstd-linux-mt CACHE PATH "libzstd with threads, static, for Linux")
add_library(zstd_static STATIC IMPORTED)
set_target_properties(zstd_static PROPERTIES
  IMPORTED_LOCATION ${ONEFILE_ZSTD_LINUX_PREFIX}/lib/libzstd.a
  INTERFACE_INCLUDE_DIRECTORIES ${ONEFILE_ZSTD_LINUX_PREFIX}/include
  INTERFACE_LINK_LIBRARIES Threads::Threads)
add_executable(payload_reader_tests
  ${PROJECT_SOURCE_DIR}/payload/reader.cpp
  ${PROJECT_SOURCE_DIR}/payload/tests/host_fail_message.cpp
  ${PROJECT_SOURCE_DIR}/payload/tests/reader_test.cpp
  ${PROJECT_SOURCE_DIR}/payload/tests/payload_streams.cpp
  ${PROJECT_SOURCE_DIR}/tests/support/host_modes.cpp)
target_include_directories(payload_reader_tests PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(payload_reader_tests PRIVATE zstd_static gtest_main)
gtest_discover_tests(payload_reader_tests)
