# Unity builds for the targets whose sources each compile the same header-only library
# code again: every corvanectl source compiles CLI11's and nlohmann-json's inline functions
# anew, so four of them compile in about the time of one and a half. Only targets whose
# sources keep their file-local names apart take part; a source that repeats a file-local
# name of another is named in SEPARATE and compiled on its own.
#
# Off by default when a compiler launcher such as ccache is set: a developer's edit should
# recompile one file, not a batch.
if(CMAKE_CXX_COMPILER_LAUNCHER)
  set(corvane_unity_default OFF)
else()
  set(corvane_unity_default ON)
endif()
option(CORVANE_UNITY "Compile the sources of the heaviest targets in batches" ${corvane_unity_default})

# corvane_unity(<target> [SEPARATE <source>...]): sources are named by file name.
function(corvane_unity target)
  cmake_parse_arguments(ARG "" "" "SEPARATE" ${ARGN})
  if(NOT CORVANE_UNITY OR NOT TARGET ${target})
    return()
  endif()
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  get_target_property(sources ${target} SOURCES)
  foreach(name IN LISTS ARG_SEPARATE)
    set(found "")
    foreach(source IN LISTS sources)
      get_filename_component(file_name ${source} NAME)
      if(file_name STREQUAL name)
        set(found ${source})
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "corvane_unity: ${target} has no source ${name}")
    endif()
    set_source_files_properties(${found} TARGET_DIRECTORY ${target}
                                PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endforeach()
endfunction()
