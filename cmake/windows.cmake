# Windows build: the template launchers (which the packer completes into
# every app), their tests under Wine, and the example app.
set(ONEFILE_ZSTD_PREFIX ${PROJECT_SOURCE_DIR}/build/deps/zstd-win64 CACHE PATH "libzstd built for Windows")
set(ONEFILE_TEMPLATE_DIR ${CMAKE_BINARY_DIR}/templates CACHE PATH "Where the template launchers are written")
set(ONEFILE_PACK ${CMAKE_BINARY_DIR}/../host/bin/onefile-pack CACHE FILEPATH "The host packer")

add_library(zstd_win STATIC IMPORTED)
set_target_properties(zstd_win PROPERTIES
  IMPORTED_LOCATION ${ONEFILE_ZSTD_PREFIX}/lib/libzstd.a
  INTERFACE_INCLUDE_DIRECTORIES ${ONEFILE_ZSTD_PREFIX}/include)

# onefile-pack.exe: the packer for Windows, from the same sources, with
# libzstd's worker threads so that its payloads match the Linux packer's.
enable_language(ASM)
set(ONEFILE_ZSTD_MT_PREFIX ${PROJECT_SOURCE_DIR}/build/deps/zstd-win64-mt CACHE PATH "libzstd with threads, for Windows")
add_library(zstd_win_mt STATIC IMPORTED)
set_target_properties(zstd_win_mt PROPERTIES
  IMPORTED_LOCATION ${ONEFILE_ZSTD_MT_PREFIX}/lib/libzstd.a
  INTERFACE_INCLUDE_DIRECTORIES ${ONEFILE_ZSTD_MT_PREFIX}/include)
set(ONEFILE_PACKER_ZSTD zstd_win_mt)
find_package(Threads REQUIRED)
find_path(ONEFILE_STB_INCLUDE_DIR stb_image_resize.h PATHS /usr/include PATH_SUFFIXES stb NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(ONEFILE_BIN_DIR ${CMAKE_BINARY_DIR}/bin CACHE PATH "Where onefile-pack.exe is written")

# Every launcher object is built for size and speed alike and links statically,
# so a packed app imports system DLLs only.
add_compile_options(-O2 -Wall -Wextra -municode -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601)
add_link_options(-static -municode)

set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
add_subdirectory(${ONEFILE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)
add_subdirectory(tests/support)

# onefile_windows_test(NAME sources... LIBS libs...): a GoogleTest binary run
# under Wine, one CTest test per test case. The time limit is generous: on a
# fresh Wine prefix with both cores busy a test that normally takes a second
# has been seen to take over a minute.
function(onefile_windows_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} onefile_test_support)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 180 PROPERTIES TIMEOUT 300)
endfunction()

include(OnefilePack)

# What every part compiles, then the folders of the Windows build; a narrower
# list builds just part of the tree.
add_subdirectory(contract)
# The Windows side's table of system functions, which every folder below uses.
add_subdirectory(system)
set(ONEFILE_WINDOWS_FOLDERS diag paths payload launcher packer examples/hello bench CACHE STRING "Folders of the Windows build")
foreach(part IN LISTS ONEFILE_WINDOWS_FOLDERS)
  add_subdirectory(${part})
endforeach()

# The install and the packages, tested as a user gets them.
if(TARGET onefile-pack AND TARGET hello_dll)
  add_subdirectory(tests)
endif()
