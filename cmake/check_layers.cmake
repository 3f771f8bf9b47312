# check_layers.cmake - fails when a file of src/, platform/ or client/
# includes a header of a folder above its own in the layer order below
# (lowest first). A folder may include its own headers and those of any
# folder below it; client/ may include only the folders that make up the
# client's view of the daemon. With a strict order no two folders can
# include each other, so folder cycles are ruled out too.
#
#   cmake -DROOT=<source dir> -P check_layers.cmake
#
# Quoted includes are resolved as the build resolves them: "dir/x.h" names a
# src/ folder; a bare "x.h" is the including file's own folder or one of the
# platform stand-ins. A quoted include that resolves to neither fails too,
# so a new folder cannot slip past the check unranked.

set(LAYERS base platform core status config server net modem watchdog dm param download shell keeper ind api app)
set(CLIENT_MAY base platform server api client)

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source dir> -P check_layers.cmake")
endif()

# The folder a file belongs to: src/<name>, platform or client.
function(folder_of path out)
  file(RELATIVE_PATH rel "${ROOT}" "${path}")
  if(rel MATCHES "^src/([^/]+)/")
    set(${out} "${CMAKE_MATCH_1}" PARENT_SCOPE)
  elseif(rel MATCHES "^platform/")
    set(${out} platform PARENT_SCOPE)
  elseif(rel MATCHES "^client/")
    set(${out} client PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

# The folder an include of `file` names, or "" when it resolves nowhere.
function(resolve file inc out)
  get_filename_component(dir "${file}" DIRECTORY)
  set(found "")
  set(top "")
  if(inc MATCHES "^([^/]+)/")
    set(top "${CMAKE_MATCH_1}")
  endif()
  if(top AND IS_DIRECTORY "${ROOT}/src/${top}")
    set(found "${top}")
  elseif(EXISTS "${dir}/${inc}")
    folder_of("${dir}/${inc}" found)
  else()
    file(GLOB hits "${ROOT}/platform/*/${inc}")
    if(hits)
      set(found platform)
    endif()
  endif()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

file(GLOB_RECURSE files "${ROOT}/src/*.h" "${ROOT}/src/*.cpp" "${ROOT}/src/*.def"
     "${ROOT}/platform/*.h" "${ROOT}/platform/*.cpp" "${ROOT}/platform/*.def"
     "${ROOT}/client/*.h" "${ROOT}/client/*.cpp" "${ROOT}/client/*.def")
set(faults "")
foreach(file ${files})
  folder_of("${file}" from)
  list(FIND LAYERS "${from}" from_rank)
  if(from_rank LESS 0 AND NOT from STREQUAL "client")
    file(RELATIVE_PATH rel "${ROOT}" "${file}")
    list(APPEND faults "${rel}: folder '${from}' has no place in the layer order")
    continue()
  endif()
  file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" inc "${line}")
    resolve("${file}" "${inc}" to)
    file(RELATIVE_PATH rel "${ROOT}" "${file}")
    list(FIND LAYERS "${to}" to_rank)
    if(to STREQUAL "")
      list(APPEND faults "${rel}: \"${inc}\" resolves to no known folder")
    elseif(from STREQUAL "client")
      list(FIND CLIENT_MAY "${to}" allowed)
      if(allowed LESS 0)
        list(APPEND faults "${rel}: client code includes \"${inc}\" (${to})")
      endif()
    elseif(to_rank GREATER from_rank OR to STREQUAL "client")
      list(APPEND faults "${rel}: ${from} includes \"${inc}\" of the higher folder ${to}")
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "layering check failed (order, lowest first: ${LAYERS}):\n  ${text}")
endif()
list(LENGTH files count)
message(STATUS "layering check: ${count} files, no include points upwards")
