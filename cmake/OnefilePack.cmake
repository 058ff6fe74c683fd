# onefile_add_executable(<name>
#     MAIN <target or file>       the app's main: a program or a DLL exporting run_code;
#                                 a target of this project or an absolute path is
#                                 copied to the top of the tree, a relative path
#                                 names a file below ROOT (bin/app.exe)
#     [ROOT <dir>]                further files of the app, packed with their folders
#     [ARGS <text>...]            fixed arguments of a program main (onefile-pack --arg)
#     [EXCLUDE <pattern>...]      what to leave out of ROOT (onefile-pack --exclude,
#                                 in order: "docs/" "*.md" "!README.md")
#     [OUTPUT <file>]             default: <name>.exe in the current binary dir
#     [ICON <png or ico>] [COMPANY <text>] [PRODUCT <text>] [VERSION <text>]
#     [LEVEL <n>] [STORED_PAYLOAD <file>] [UNCHECKED]
#     [CACHE] [TARGET <template>] [SPLASH <png>] [SPLASH_TEXT <text>]
#     [CONSOLE | WINDOWED]        the output's kind (default: a program main's own;
#                                 windowed for a DLL)
#     [FOLLOW_LINKS])             links below ROOT packed as what they point to
#
# Packs the app into one launcher executable after the main library is built,
# and packs again whenever the library or any file below ROOT changes. The
# app's tree is staged in <name>.root next to the output: ROOT's files plus
# a main target or absolute file at its top.
#
# CACHE passes --cache (extract once into a per-user folder, reuse it later),
# TARGET passes --target (the target folder's template, or with CACHE the
# cache root's).
#
# UNCHECKED passes --no-checks (a main library or stored payload the launcher
# will refuse at run time; for tests of those failures).
#
# ONEFILE_PACK names the packer, onefile-pack or onefile-pack.exe (default:
# onefile-pack on PATH).
if(NOT ONEFILE_PACK)
  find_program(ONEFILE_PACK onefile-pack REQUIRED)
endif()

function(onefile_add_executable name)
  cmake_parse_arguments(P "UNCHECKED;CACHE;CONSOLE;WINDOWED;FOLLOW_LINKS"
                        "MAIN;ROOT;OUTPUT;ICON;COMPANY;PRODUCT;VERSION;LEVEL;STORED_PAYLOAD;TARGET;SPLASH;SPLASH_TEXT" "ARGS;EXCLUDE" ${ARGN})
  if(NOT P_MAIN AND NOT P_STORED_PAYLOAD)
    message(FATAL_ERROR "onefile_add_executable(${name}): MAIN is required")
  endif()
  if(P_STORED_PAYLOAD AND (P_MAIN OR P_ROOT OR P_LEVEL OR P_EXCLUDE))
    message(FATAL_ERROR "onefile_add_executable(${name}): STORED_PAYLOAD is used as it is; MAIN, ROOT, LEVEL and EXCLUDE do not apply")
  endif()
  if(NOT P_OUTPUT)
    set(P_OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}.exe)
  endif()
  set(stage ${CMAKE_CURRENT_BINARY_DIR}/${name}.root)

  set(options --output ${P_OUTPUT} --quiet)
  if(P_UNCHECKED)
    list(APPEND options --no-checks)
  endif()
  if(P_CACHE)
    list(APPEND options --cache)
  endif()
  if(P_CONSOLE)
    list(APPEND options --console)
  endif()
  if(P_WINDOWED)
    list(APPEND options --windowed)
  endif()
  if(P_FOLLOW_LINKS)
    list(APPEND options --follow-links)
  endif()
  foreach(arg IN LISTS P_ARGS)
    list(APPEND options --arg "${arg}")
  endforeach()
  foreach(pattern IN LISTS P_EXCLUDE)
    list(APPEND options --exclude "${pattern}")
  endforeach()
  foreach(opt ICON COMPANY PRODUCT VERSION LEVEL TARGET SPLASH SPLASH_TEXT)
    if(DEFINED P_${opt})
      string(TOLOWER ${opt} flag)
      string(REPLACE "_" "-" flag ${flag})
      list(APPEND options --${flag} "${P_${opt}}")
    endif()
  endforeach()

  set(depends ${ONEFILE_PACK})
  set(commands)
  if(P_STORED_PAYLOAD)
    list(APPEND options --stored-payload ${P_STORED_PAYLOAD})
    list(APPEND depends ${P_STORED_PAYLOAD})
  else()
    list(APPEND commands
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${stage}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${stage})
    if(P_ROOT)
      file(GLOB_RECURSE root_files CONFIGURE_DEPENDS LIST_DIRECTORIES false ${P_ROOT}/*)
      list(APPEND depends ${root_files})
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_directory ${P_ROOT} ${stage})
    endif()
    if(TARGET ${P_MAIN})
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${P_MAIN}> ${stage}/)
      list(APPEND options --root ${stage} --main $<TARGET_FILE_NAME:${P_MAIN}>)
      list(APPEND depends ${P_MAIN})
    elseif(IS_ABSOLUTE ${P_MAIN})
      get_filename_component(main_name ${P_MAIN} NAME)
      list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy ${P_MAIN} ${stage}/)
      list(APPEND options --root ${stage} --main ${main_name})
      list(APPEND depends ${P_MAIN})
    elseif(P_ROOT)
      list(APPEND options --root ${stage} --main ${P_MAIN})
      list(APPEND depends ${P_ROOT}/${P_MAIN})
    else()
      message(FATAL_ERROR "onefile_add_executable(${name}): MAIN ${P_MAIN} is a relative path, which names a file below ROOT")
    endif()
  endif()
  foreach(image ICON SPLASH)
    if(P_${image})
      list(APPEND depends ${P_${image}})
    endif()
  endforeach()

  add_custom_command(OUTPUT ${P_OUTPUT}
    ${commands}
    COMMAND ${ONEFILE_PACK} ${options}
    DEPENDS ${depends}
    COMMENT "Packing ${name}"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${P_OUTPUT})
endfunction()
