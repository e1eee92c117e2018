# tesmora_glob(<out-var> <folder>... ) collects the .cpp files of the folders that
# the current build can compile: _win.cpp files only when building for Windows,
# _std.cpp files (the standard library's version of a _win.cpp) only elsewhere.
function(tesmora_glob out)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp)
    foreach(f IN LISTS found)
      if(f MATCHES "_win(_test)?\\.cpp$" AND NOT WIN32)
        continue()
      endif()
      if(f MATCHES "_std\\.cpp$" AND WIN32)
        continue()
      endif()
      list(APPEND result ${f})
    endforeach()
  endforeach()
  list(SORT result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Platform-free subsystems, in the order the data flows.
set(TESMORA_CORE_DIRS common script signature scanner quarantine removal removers scan report cli)
