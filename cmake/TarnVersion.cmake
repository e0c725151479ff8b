# The build's version: one definition for tarn, tarnd and the Debian
# packages (scripts/build-deb reads it back from the build directory).
#
# Taken when CMake configures, from the first of:
#   1. `git describe` of the source tree, when the source tree is the top of
#      a git checkout: the newest tag vX.Y.Z gives "X.Y.Z" (a "-" in it, as
#      in v1.0-rc1, becomes "~", which sorts before the release), commits
#      after it "+N.gHASH"; without a tag the project version with
#      "~COUNT.gHASH", which sorts before the release that tags it.
#      Uncommitted changes, and new files that are not ignored (the ones
#      scripts/build-deb exports), add ".dirty" (or "+dirty").
#   2. the file .tarball-version in the source tree (an exported tree, such
#      as the one `make deb` builds, has no .git);
#   3. the newest entry of debian/changelog;
#   4. the project version.
# Every form is a valid Debian version: a build after a tag sorts after it,
# a build before the first tag before the release that tags it.
#
# Defines TARN_VERSION and writes <build>/generated/tarn_version.h and
# <build>/tarn-version.

function(tarn_git out_var)
  execute_process(COMMAND git ${ARGN} WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(result EQUAL 0)
    set(${out_var} "${output}" PARENT_SCOPE)
  else()
    set(${out_var} "" PARENT_SCOPE)
  endif()
endfunction()

function(tarn_version_from_git out_var)
  set(${out_var} "" PARENT_SCOPE)
  find_program(TARN_GIT git)
  if(NOT TARN_GIT)
    return()
  endif()
  # Only this tree's own checkout counts, not one that merely contains it.
  tarn_git(top rev-parse --show-toplevel)
  if(NOT top OR NOT EXISTS "${top}")
    return()
  endif()
  file(REAL_PATH "${top}" top)
  file(REAL_PATH "${CMAKE_SOURCE_DIR}" source)
  if(NOT top STREQUAL source)
    return()
  endif()

  tarn_git(described describe --tags --long --match "v[0-9]*")
  if(described MATCHES "^v(.+)-([0-9]+)-g([0-9a-f]+)$")
    string(REPLACE "-" "~" base "${CMAKE_MATCH_1}")
    set(count "${CMAKE_MATCH_2}")
    set(hash "${CMAKE_MATCH_3}")
    set(separator "+")
  else()
    tarn_git(count rev-list --count HEAD)
    tarn_git(hash rev-parse --short=7 HEAD)
    if(NOT count OR NOT hash)
      return()
    endif()
    set(base "${PROJECT_VERSION}")
    set(separator "~")
  endif()
  set(extra "")
  if(NOT count EQUAL 0)
    list(APPEND extra "${count}" "g${hash}")
  endif()
  tarn_git(changes status --porcelain --untracked-files=normal)
  if(changes)
    list(APPEND extra dirty)
  endif()
  list(JOIN extra "." extra)
  if(extra)
    set(${out_var} "${base}${separator}${extra}" PARENT_SCOPE)
  else()
    set(${out_var} "${base}" PARENT_SCOPE)
  endif()

  # Configure again when HEAD moves, so a commit is never built under the
  # previous commit's version.
  tarn_git(branch symbolic-ref -q HEAD)
  foreach(ref HEAD packed-refs ${branch})
    tarn_git(path rev-parse --path-format=absolute --git-path "${ref}")
    if(path AND EXISTS "${path}")
      set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${path}")
    endif()
  endforeach()
endfunction()

tarn_version_from_git(TARN_VERSION)
if(NOT TARN_VERSION AND EXISTS "${CMAKE_SOURCE_DIR}/.tarball-version")
  file(STRINGS "${CMAKE_SOURCE_DIR}/.tarball-version" TARN_VERSION LIMIT_COUNT 1)
  set_property(DIRECTORY "${CMAKE_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               "${CMAKE_SOURCE_DIR}/.tarball-version")
endif()
if(NOT TARN_VERSION AND EXISTS "${CMAKE_SOURCE_DIR}/debian/changelog")
  file(STRINGS "${CMAKE_SOURCE_DIR}/debian/changelog" top LIMIT_COUNT 1)
  if(top MATCHES "^[^ ]+ \\(([^)]+)\\)")
    set(TARN_VERSION "${CMAKE_MATCH_1}")
  endif()
endif()
if(NOT TARN_VERSION)
  set(TARN_VERSION "${PROJECT_VERSION}")
endif()
if(NOT TARN_VERSION MATCHES "^[0-9][A-Za-z0-9.+~-]*$")
  message(FATAL_ERROR "Not a usable version: \"${TARN_VERSION}\"")
endif()
message(STATUS "Version ${TARN_VERSION}")

configure_file(${CMAKE_CURRENT_LIST_DIR}/tarn_version.h.in
               ${CMAKE_BINARY_DIR}/generated/tarn_version.h @ONLY)
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/tarn-version CONTENT "${TARN_VERSION}\n")

# Programs that print the version link this; only the files that include
# the header are compiled again when it changes.
add_library(tarn_version INTERFACE)
target_include_directories(tarn_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
