# What every shipped program shares: the version, the Windows version resource, the install
# places, the manual page and the bash completion. A program joins the release with one call:
#
#   tavimore_program(tavimore-cli DESCRIPTION "Tavimore G00 image converter (command line)"
#                    MANUAL tavimore-cli.1.scd)
#
# DESCRIPTION is what Windows shows for the .exe. MANUAL names the scdoc source of the program's
# manual page, beside its CMakeLists.txt; a program with a manual also gets the bash completion
# (which reads its options from --help) and the test that the manual, the README's usage line,
# the completion and --help agree.
# Debian's multiarch folder for the library (lib/x86_64-linux-gnu), which the loader and
# pkg-config search under /usr and /usr/local alike.
if(NOT WIN32 AND CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries")
endif()
include(GNUInstallDirs)

set(TAVIMORE_COPYRIGHT "Copyright (c) 2026 ${TAVIMORE_MAKER}")
set(TAVIMORE_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/tavimore)
if(WIN32)
  # The zip holds the programs and their texts side by side.
  set(TAVIMORE_BIN_DIR .)
else()
  set(TAVIMORE_BIN_DIR ${CMAKE_INSTALL_BINDIR})
endif()
# Installing does not build the test programs: the release target holds what is installed.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
add_custom_target(tavimore-release ALL)

# The time every release file carries: SOURCE_DATE_EPOCH when given, else the commit's time, so
# that two builds of one commit give the same bytes. A new commit configures the tree again.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(TAVIMORE_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%ct
                  OUTPUT_VARIABLE TAVIMORE_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE git_result ERROR_QUIET)
  execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} rev-parse --absolute-git-dir
                  OUTPUT_VARIABLE git_dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT git_result EQUAL 0 OR TAVIMORE_SOURCE_DATE_EPOCH STREQUAL "")
    message(FATAL_ERROR "no commit to take the release time from: set SOURCE_DATE_EPOCH")
  endif()
  if(EXISTS ${git_dir}/logs/HEAD)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_dir}/logs/HEAD)
  endif()
endif()
# Rewritten only when it changes; the manual pages depend on it.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/source-date-epoch CONTENT "${TAVIMORE_SOURCE_DATE_EPOCH}\n")

# No build or source folder reaches a shipped binary (file names in assertions, debug info).
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>
                    $<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}/=>)
if(WIN32)
  # The linker otherwise stamps each .exe with the time of the link.
  add_link_options(-Wl,--no-insert-timestamp)
endif()

find_program(TAVIMORE_SCDOC scdoc)
find_program(TAVIMORE_GZIP gzip)

# The version resource Windows shows in a file's properties (type VFT_APP or VFT_DLL).
function(tavimore_version_resource name file type description)
  set(TAVIMORE_PROGRAM ${name})
  set(TAVIMORE_FILE_NAME ${file})
  set(TAVIMORE_FILE_TYPE ${type})
  set(TAVIMORE_PROGRAM_DESCRIPTION ${description})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in
                 ${CMAKE_CURRENT_BINARY_DIR}/${name}-version.rc @ONLY)
  target_sources(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}-version.rc)
endfunction()

function(tavimore_program name)
  cmake_parse_arguments(ARG "" "DESCRIPTION;MANUAL" "" ${ARGN})
  target_compile_definitions(${name} PRIVATE
    $<$<COMPILE_LANGUAGE:C,CXX>:TAVIMORE_VERSION="${PROJECT_VERSION}">)
  add_dependencies(tavimore-release ${name})
  set_property(GLOBAL APPEND PROPERTY TAVIMORE_PROGRAMS ${name})
  install(TARGETS ${name} RUNTIME DESTINATION ${TAVIMORE_BIN_DIR})

  if(WIN32)
    tavimore_version_resource(${name} ${name}.exe VFT_APP "${ARG_DESCRIPTION}")
    return()
  endif()

  if(NOT ARG_MANUAL)
    return()
  endif()
  if(NOT TAVIMORE_SCDOC OR NOT TAVIMORE_GZIP)
    if(TAVIMORE_TESTS)
      message(FATAL_ERROR "scdoc and gzip build the manual pages (tools/setup.sh installs them)")
    endif()
    message(STATUS "${name}: no manual page and completion without scdoc and gzip")
    return()
  endif()
  string(REGEX REPLACE "\\.scd$" "" page ${ARG_MANUAL})
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${ARG_MANUAL})
  set(manual ${CMAKE_BINARY_DIR}/man/${page})
  configure_file(${ARG_MANUAL} ${source} @ONLY)
  add_custom_command(OUTPUT ${manual} ${manual}.gz
    COMMAND ${CMAKE_COMMAND} -DSCDOC=${TAVIMORE_SCDOC} -DGZIP=${TAVIMORE_GZIP}
            -DSOURCE=${source} -DPAGE=${manual} -DEPOCH_FILE=${CMAKE_BINARY_DIR}/source-date-epoch
            -P ${PROJECT_SOURCE_DIR}/cmake/build_manual.cmake
    DEPENDS ${source} ${CMAKE_BINARY_DIR}/source-date-epoch
            ${PROJECT_SOURCE_DIR}/cmake/build_manual.cmake
    COMMENT "Manual page ${page}" VERBATIM)
  add_custom_target(${name}-manual DEPENDS ${manual} ${manual}.gz)
  add_dependencies(tavimore-release ${name}-manual)
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${manual}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})

  set(TAVIMORE_PROGRAM ${name})
  set(completion ${CMAKE_BINARY_DIR}/completions/${name})
  configure_file(${PROJECT_SOURCE_DIR}/cli/completion.bash.in ${completion} @ONLY)
  install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)

  if(TAVIMORE_TESTS AND NOT TAVIMORE_SANITIZE)
    add_test(NAME manual.${name}
             COMMAND ${PROJECT_SOURCE_DIR}/tests/manual_test.sh $<TARGET_FILE:${name}>
                     ${CMAKE_CURRENT_SOURCE_DIR}/${ARG_MANUAL} ${manual} ${completion}
                     ${PROJECT_SOURCE_DIR}/README.md)
  endif()
endfunction()
