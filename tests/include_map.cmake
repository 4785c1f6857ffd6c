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

# A line may name a sub-folder ("sim/ezusb -> sim/mcs51"): a source then belongs to the
# longest line that holds it, a header to the longest line its path starts with, and a line
# allows a folder's headers if it names that folder or one above it ("app -> sim").
set(folders "")
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^([a-z_]+(/[a-z0-9_]+)*)[ ]+->(.*)$")
    message(FATAL_ERROR "docs/architecture.md: include map line \"${line}\" is not \"folder -> ...\"")
  endif()
  set(folder "${CMAKE_MATCH_1}")
  set(rest "${CMAKE_MATCH_3}")
  string(REGEX REPLACE "\\([^)]*\\)" "" rest "${rest}")
  string(REGEX MATCHALL "[a-z_]+(/[a-z0-9_]+)*" words "${rest}")
  list(APPEND folders ${folder})
  set(uses_${folder} ${words})
endforeach()

# The map line that holds path (a source file or an included header), or "".
function(owner_of path out)
  set(best "")
  foreach(folder IN LISTS folders)
    string(LENGTH "${folder}" length)
    string(LENGTH "${best}" best_length)
    string(FIND "${path}" "${folder}/" at)
    if(at EQUAL 0 AND length GREATER best_length)
      set(best "${folder}")
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

set(failures "")
set(tops "")
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY "${ROOT}/${folder}")
    list(APPEND failures "the map names folder ${folder}/, which does not exist")
    continue()
  endif()
  string(REGEX REPLACE "/.*$" "" top "${folder}")
  list(APPEND tops ${top})
endforeach()
list(REMOVE_DUPLICATES tops)

foreach(top IN LISTS tops)
  file(GLOB_RECURSE sources RELATIVE "${ROOT}"
       "${ROOT}/${top}/*.cpp" "${ROOT}/${top}/*.h" "${ROOT}/${top}/*.inc")
  foreach(source IN LISTS sources)
    owner_of("${source}" owner)
    if(owner STREQUAL "")
      list(APPEND failures "${source} is in no folder of the map (its folder needs a line)")
      continue()
    endif()
    file(STRINGS "${ROOT}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z_]+/")
    foreach(include IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" header "${include}")
      owner_of("${header}" used)
      if(used STREQUAL "" OR used STREQUAL owner)
        continue()
      endif()
      # Allowed if the line names the header's folder or a folder above it.
      set(allowed FALSE)
      set(name "${used}")
      while(NOT allowed AND NOT name STREQUAL "")
        if(name IN_LIST uses_${owner})
          set(allowed TRUE)
        elseif(name MATCHES "/")
          string(REGEX REPLACE "/[^/]*$" "" name "${name}")
        else()
          set(name "")
        endif()
      endwhile()
      if(NOT allowed)
        list(APPEND failures "${source} includes \"${header}\": ${owner} may not use ${used}")
      endif()
    endforeach()
  endforeach()
endforeach()

# Every library folder must be on the map.
file(GLOB cmake_lists RELATIVE "${ROOT}" "${ROOT}/*/CMakeLists.txt")
foreach(cmake_list IN LISTS cmake_lists)
  get_filename_component(dir "${cmake_list}" DIRECTORY)
  if(NOT dir MATCHES "^(tests|tools|packaging|resources)$" AND NOT dir IN_LIST tops)
    list(APPEND failures "${dir}/ is a library folder missing from the include map")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "includes the map in docs/architecture.md does not allow:\n  ${text}\n"
          "Use only what the folder's line allows, or change the map (and the design) first.")
endif()
message(STATUS "every folder includes only what docs/architecture.md allows")
