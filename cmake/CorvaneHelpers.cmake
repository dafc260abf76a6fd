# A static library made of every .cpp in a folder. A folder that has no source
# yet still gives a valid (interface-like) target, so the tree builds while it grows.
function(corvane_core_library name folder)
  cmake_parse_arguments(ARG "" "" "EXCLUDE;DEPENDS" ${ARGN})
  # Remembered for corvane_check_core_includes.
  set_property(GLOBAL APPEND PROPERTY CORVANE_CORE_LIBRARIES ${name})
  set_property(GLOBAL PROPERTY CORVANE_FOLDER_OF_${name} ${folder})
  set_property(GLOBAL PROPERTY CORVANE_DEPENDS_OF_${name} ${ARG_DEPENDS})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(FILTER sources EXCLUDE REGEX "/${excluded}$")
  endforeach()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPENDS})
  endif()
endfunction()

# One GoogleTest executable per test folder, from every *_test.cpp in it.
function(corvane_gtest name folder)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*_test.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
endfunction()

# The folders a core library may include from: its own and those of the libraries it
# depends on, directly or through them.
function(corvane_allowed_folders name out)
  get_property(folder GLOBAL PROPERTY CORVANE_FOLDER_OF_${name})
  get_filename_component(folder_name ${folder} NAME)
  set(allowed ${folder_name})
  get_property(depends GLOBAL PROPERTY CORVANE_DEPENDS_OF_${name})
  foreach(dependency IN LISTS depends)
    corvane_allowed_folders(${dependency} more)
    list(APPEND allowed ${more})
  endforeach()
  list(REMOVE_DUPLICATES allowed)
  set(${out} ${allowed} PARENT_SCOPE)
endfunction()

# A front end (the window, corvanectl, the exporter) may include its own folder and the
# core folders it builds on, never another front end's; Qt only where QT is given.
function(corvane_front_end name folder)
  cmake_parse_arguments(ARG "QT" "" "DEPENDS" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY CORVANE_FRONT_ENDS ${name})
  set_property(GLOBAL PROPERTY CORVANE_FOLDER_OF_${name} ${folder})
  set_property(GLOBAL PROPERTY CORVANE_DEPENDS_OF_${name} ${ARG_DEPENDS})
  set_property(GLOBAL PROPERTY CORVANE_QT_OF_${name} ${ARG_QT})
endfunction()

# A build step that fails when a core or front-end source includes a folder its library
# does not declare (an import that runs upward or sideways), or a Qt header outside the
# window. It reruns whenever such a source changes; the rules come from the
# corvane_core_library and corvane_front_end calls.
function(corvane_check_core_includes)
  get_property(libraries GLOBAL PROPERTY CORVANE_CORE_LIBRARIES)
  get_property(front_ends GLOBAL PROPERTY CORVANE_FRONT_ENDS)
  list(APPEND libraries ${front_ends})
  set(rules "")
  set(all_sources "")
  foreach(library IN LISTS libraries)
    get_property(folder GLOBAL PROPERTY CORVANE_FOLDER_OF_${library})
    corvane_allowed_folders(${library} allowed)
    get_property(qt_allowed GLOBAL PROPERTY CORVANE_QT_OF_${library})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${folder}/*.h
                                        ${CMAKE_SOURCE_DIR}/${folder}/*.cpp)
    list(APPEND all_sources ${sources})
    string(APPEND rules "list(APPEND corvane_libraries ${library})\n"
                        "set(corvane_folder_${library} \"${CMAKE_SOURCE_DIR}/${folder}\")\n"
                        "set(corvane_allowed_${library} \"${allowed}\")\n"
                        "set(corvane_qt_${library} \"${qt_allowed}\")\n")
  endforeach()
  set(rules_file ${CMAKE_BINARY_DIR}/core_include_rules.cmake)
  file(WRITE ${rules_file} "${rules}")
  set(stamp ${CMAKE_BINARY_DIR}/core_include_rules.checked)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DRULES=${rules_file} -DSTAMP=${stamp}
            -P ${CMAKE_SOURCE_DIR}/cmake/CheckCoreIncludes.cmake
    DEPENDS ${all_sources} ${rules_file} ${CMAKE_SOURCE_DIR}/cmake/CheckCoreIncludes.cmake
    COMMENT "Checking the core's includes against its declared dependencies")
  add_custom_target(corvane_core_includes ALL DEPENDS ${stamp})
endfunction()
