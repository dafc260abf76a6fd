# Script mode: cmake -DRULES=<rules file> -DSTAMP=<file> -P CheckCoreIncludes.cmake
# Fails when a source of a core library or front end includes a folder outside those it
# may include from (its own and its declared dependencies'), or a Qt header where Qt is
# not allowed (everywhere but the window); writes STAMP when all is well.
cmake_minimum_required(VERSION 3.25)
include(${RULES})
set(problems "")
foreach(library IN LISTS corvane_libraries)
  file(GLOB sources ${corvane_folder_${library}}/*.h ${corvane_folder_${library}}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
      if(line MATCHES "\"([a-z_]+)/[^\"]*\"")
        if(NOT CMAKE_MATCH_1 IN_LIST corvane_allowed_${library})
          string(APPEND problems
                 "\n  ${source}: ${line} (${library} may include: ${corvane_allowed_${library}})")
        endif()
      elseif(line MATCHES "<Q[A-Za-z]*[>/]" AND NOT corvane_qt_${library})
        string(APPEND problems "\n  ${source}: ${line} (the core links no Qt)")
      endif()
    endforeach()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "Core includes that the libraries do not declare:${problems}")
endif()
file(TOUCH ${STAMP})
