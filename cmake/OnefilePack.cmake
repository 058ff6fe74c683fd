# onefile_add_executable(<name>
#     MAIN <target or file>       the app's main: a program or a DLL exporting run_code;
#                                 a target of this project or an absolute path is
#                                 copied to the top of the tree, a relative path
#                                 names a file below ROOT (bin/app.exe)
#     [ROOT <dir>]                further files of the app, packed with their folders
#     [ARGS <text>...]            fixed arguments of a program main (onefile-pack --arg),
#                                 each exactly as written: "" is an empty one, "a;b"
#                                 one with a semicolon; ${list} gives one per element
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
# Packs the app into one launcher executable after the main is built, and
# packs again whenever the main or any file below ROOT changes. The
# app's tree is staged in <name>.root next to the output: ROOT's files plus
# a main target or absolute file at its top.
#
# CACHE passes --cache (extract once into a per-user folder, reuse it later),
# TARGET passes --target (the target folder's template, or with CACHE the
# cache root's).
#
# UNCHECKED passes --no-checks (a main file or stored payload the launcher
# will refuse at run time; for tests of those failures).
#
# ONEFILE_PACK names the packer, onefile-pack or onefile-pack.exe (default:
# onefile-pack on PATH).
if(NOT ONEFILE_PACK)
  find_program(ONEFILE_PACK onefile-pack REQUIRED)
endif()

# The function keeps the policies of this file, whoever includes it.
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)

function(onefile_add_executable name)
  set(flags UNCHECKED CACHE CONSOLE WINDOWED FOLLOW_LINKS)
  set(values MAIN ROOT OUTPUT ICON COMPANY PRODUCT VERSION LEVEL STORED_PAYLOAD TARGET SPLASH SPLASH_TEXT)
  cmake_parse_arguments(PARSE_ARGV 1 P "${flags}" "${values}" "ARGS;EXCLUDE")
  # The fixed arguments are taken from the call itself, each as one bracket
  # argument of the packer's command: a CMake list would drop an empty one,
  # split one at its semicolons and join one that ends in a backslash with
  # the next.
  set(fixed_arguments "")
  set(in_arguments FALSE)
  set(arguments_keyword ARGS)
  set(i 1)
  while(i LESS ARGC)
    # ARGV<i> is read by name: set() would take a value such as CACHE for
    # one of its own keywords.
    if(ARGV${i} STREQUAL arguments_keyword)
      set(in_arguments TRUE)
    elseif(ARGV${i} IN_LIST flags OR ARGV${i} IN_LIST values OR ARGV${i} STREQUAL "EXCLUDE")
      set(in_arguments FALSE)
    elseif(in_arguments)
      set(equals "")
      while(ARGV${i} MATCHES "]${equals}]")
        string(APPEND equals "=")
      endwhile()
      string(APPEND fixed_arguments " [${equals}[--arg=${ARGV${i}}]${equals}]")
    endif()
    math(EXPR i "${i} + 1")
  endwhile()
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

  cmake_language(EVAL CODE "
    add_custom_command(OUTPUT \${P_OUTPUT}
      \${commands}
      COMMAND \${ONEFILE_PACK} \${options}${fixed_arguments}
      DEPENDS \${depends}
      COMMENT \"Packing \${name}\"
      VERBATIM)")
  add_custom_target(${name} ALL DEPENDS ${P_OUTPUT})
endfunction()

cmake_policy(POP)
