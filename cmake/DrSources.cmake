# Collects the .cpp files under the given folders (relative to the source
# root). New files are picked up on the next build without editing CMake.
function(dr_glob_sources out)
  set(_all)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE _found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND _all ${_found})
  endforeach()
  set(${out} ${_all} PARENT_SCOPE)
endfunction()
