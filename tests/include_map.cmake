# Fails when a library folder includes a header of a folder that the map in
# docs/architecture.md does not let it use. Run as: cmake -DROOT=<source dir> -P include_map.cmake
#
# The map is the fenced block after the "include map" comment: one line per folder,
# "folder -> used, used (why), ...". Words that name no folder ("nothing", "libzip") are
# ignored; a header of folder X is any #include "X/...".

cmake_minimum_required(VERSION 3.25)

file(READ "${ROOT}/docs/architecture.md" doc)
string(FIND "${doc}" "<!-- include map" at)
if(at EQUAL -1)
  message(FATAL_ERROR "docs/architecture.md has no <!-- include map --> block")
endif()
string(SUBSTRING "${doc}" ${at} -1 doc)
string(REGEX MATCH "```\n([^`]*)```" block "${doc}")
set(block "${CMAKE_MATCH_1}")
string(REGEX MATCHALL "[^\n]+" lines "${block}")

set(folders "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^([a-z_]+)[ ]+->(.*)$")
    message(FATAL_ERROR "docs/architecture.md: include map line \"${line}\" is not \"folder -> ...\"")
  endif()
  set(folder "${CMAKE_MATCH_1}")
  set(rest "${CMAKE_MATCH_2}")
  string(REGEX REPLACE "\\([^)]*\\)" "" rest "${rest}")
  string(REGEX MATCHALL "[a-z_]+" words "${rest}")
  list(APPEND folders ${folder})
  set(uses_${folder} ${words})
endforeach()

set(failures "")
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY "${ROOT}/${folder}")
    list(APPEND failures "the map names folder ${folder}/, which does not exist")
    continue()
  endif()
  file(GLOB_RECURSE sources RELATIVE "${ROOT}"
       "${ROOT}/${folder}/*.cpp" "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.inc")
  foreach(source IN LISTS sources)
    file(STRINGS "${ROOT}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z_]+/")
    foreach(include IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([a-z_]+)/.*$" "\\1" used "${include}")
      if(used STREQUAL folder OR NOT used IN_LIST folders)
        continue()
      endif()
      if(NOT used IN_LIST uses_${folder})
        list(APPEND failures "${source} includes \"${used}/...\": ${folder} may not use ${used}")
      endif()
    endforeach()
  endforeach()
endforeach()

# Every library folder must be on the map.
file(GLOB tops RELATIVE "${ROOT}" "${ROOT}/*/CMakeLists.txt")
foreach(top IN LISTS tops)
  get_filename_component(dir "${top}" DIRECTORY)
  if(NOT dir MATCHES "^(tests|tools|packaging|resources)$" AND NOT dir IN_LIST folders)
    list(APPEND failures "${dir}/ is a library folder missing from the include map")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "includes the map in docs/architecture.md does not allow:\n  ${text}\n"
          "Use only what the folder's line allows, or change the map (and the design) first.")
endif()
message(STATUS "every folder includes only what docs/architecture.md allows")
