# The rooms of src/ depend downwards only. Each room may include its own
# headers and those of the rooms before it in this order, never one after
# it, so no circle of includes between rooms can form. Runs at configure
# time (included from the top-level CMakeLists) and as the CTest test
# room_includes (cmake -DLUMEN_SRC=<src> -P check_rooms.cmake), so an
# include added after the last configure is caught by `make test` too.
set(LUMEN_ROOMS engine settings download_window harvest shell tools cli app)

if(NOT LUMEN_SRC)
  set(LUMEN_SRC "${CMAKE_CURRENT_LIST_DIR}/../src")
endif()
get_filename_component(LUMEN_SRC "${LUMEN_SRC}" ABSOLUTE)

# A check over the tree, not a source list: every header and source file
# found under a room counts, listed in a CMakeLists or not.
file(GLOB_RECURSE lumen_room_files RELATIVE "${LUMEN_SRC}" "${LUMEN_SRC}/*.h" "${LUMEN_SRC}/*.cpp")
set(lumen_room_faults "")
foreach(rel IN LISTS lumen_room_files)
  string(REGEX MATCH "^[a-z_]+/" room "${rel}")
  string(REPLACE "/" "" room "${room}")
  list(FIND LUMEN_ROOMS "${room}" rank)
  if(rank LESS 0)
    string(APPEND lumen_room_faults "  ${rel}: room '${room}' is not in the room order\n")
    continue()
  endif()
  file(STRINGS "${LUMEN_SRC}/${rel}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z_]+/")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([a-z_]+)/.*$" "\\1" target "${line}")
    list(FIND LUMEN_ROOMS "${target}" target_rank)
    if(target_rank GREATER rank)
      string(APPEND lumen_room_faults "  ${rel} (${room}) includes ${target}/, a room above it\n")
    endif()
  endforeach()
endforeach()

if(lumen_room_faults)
  string(REPLACE ";" " < " order "${LUMEN_ROOMS}")
  message(FATAL_ERROR "Rooms must include only themselves and rooms below them (${order}):\n${lumen_room_faults}")
endif()
