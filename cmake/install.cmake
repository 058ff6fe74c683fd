# What `cmake --install` puts below the prefix, for the host build (Linux:
# onefile-pack, the .deb and the tarball) and the Windows build
# (onefile-pack.exe, the zip):
#   bin/onefile-pack[.exe]
#   include/vorlan-onefile/run_code.h
#   lib/cmake/VorlanOnefile/  the CMake package (config, version, function)
#   share/doc/vorlan-onefile/ README.md, LICENSE, THIRD_PARTY_NOTICES and,
#                             from the host build, Debian's copyright and
#                             changelog.gz
# and the package settings of CPack. The version is the top-level project()'s.
set(ONEFILE_PACKAGE_NAME vorlan-onefile)
set(ONEFILE_DOC_DIR share/doc/${ONEFILE_PACKAGE_NAME})
set(ONEFILE_CMAKE_DIR lib/cmake/VorlanOnefile)
set(ONEFILE_MAINTAINER "Vorlan Onefile authors <onefile@vorlan.example>")

install(TARGETS onefile-pack RUNTIME DESTINATION bin)
install(FILES ${PROJECT_SOURCE_DIR}/launcher/run_code.h DESTINATION include/vorlan-onefile)

set(ONEFILE_PACK_FILE_NAME onefile-pack${CMAKE_EXECUTABLE_SUFFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/package/VorlanOnefileConfig.cmake.in
               ${CMAKE_BINARY_DIR}/package/VorlanOnefileConfig.cmake @ONLY)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/VorlanOnefileConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_BINARY_DIR}/package/VorlanOnefileConfig.cmake
              ${CMAKE_BINARY_DIR}/package/VorlanOnefileConfigVersion.cmake
              ${PROJECT_SOURCE_DIR}/cmake/OnefilePack.cmake
        DESTINATION ${ONEFILE_CMAKE_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/THIRD_PARTY_NOTICES
        DESTINATION ${ONEFILE_DOC_DIR})

# Package builds are reproducible: CPack gives every archived file the time
# SOURCE_DATE_EPOCH, the Debian changelog's date comes from it too, and the
# Makefile sets it to the last commit's time.
set(CPACK_PACKAGE_NAME ${ONEFILE_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "the Vorlan Onefile authors")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ship a Windows application as one executable")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_THREADS 1)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ${ONEFILE_PACKAGE_NAME}-${PROJECT_VERSION}-windows-x64)
else()
  set(CPACK_GENERATOR "DEB;TGZ")
  set(CPACK_PACKAGE_FILE_NAME ${ONEFILE_PACKAGE_NAME}-${PROJECT_VERSION}-linux-x86_64)

  # Debian wants its copyright file and, for a package without a Debian
  # revision, a changelog.gz in the documentation folder.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE ONEFILE_LICENSE_TEXT)
  string(TIMESTAMP ONEFILE_RELEASE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/package/copyright.in ${CMAKE_BINARY_DIR}/package/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/package/changelog.in ${CMAKE_BINARY_DIR}/package/changelog @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/package/changelog.gz
    COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/package/changelog > ${CMAKE_BINARY_DIR}/package/changelog.gz
    DEPENDS ${CMAKE_BINARY_DIR}/package/changelog)
  add_custom_target(onefile_debian_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/package/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/package/copyright ${CMAKE_BINARY_DIR}/package/changelog.gz
          DESTINATION ${ONEFILE_DOC_DIR})

  set(CPACK_DEBIAN_PACKAGE_NAME ${ONEFILE_PACKAGE_NAME})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ONEFILE_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The summary is the Description's first line; this is the text below it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "onefile-pack turns a folder holding a Windows application (its
program, or a main DLL exporting run_code, and any other files) into one
64-bit Windows executable. Started, the executable unpacks the application
into a fresh temporary folder (or once into a per-user cache), runs it,
deletes the folder and exits with the application's exit code.
.
The package holds the packer, the header of the run_code export and a
CMake package (find_package(VorlanOnefile)) with onefile_add_executable.")
endif()
include(CPack)
