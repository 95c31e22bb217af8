# Sources of one folder: every .cpp except tests (*_test.cpp) and program entry files (main.cpp).
function(kivo_library_sources out)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(FILTER found EXCLUDE REGEX "(_test|/main|/entry_[a-z]+)\\.cpp$")
    list(APPEND result ${found})
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

function(kivo_test_sources out)
  set(result)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS ${dir}/*_test.cpp)
    list(APPEND result ${found})
  endforeach()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# Under Wine, tests run with the emulator from the toolchain file; Wine's own chatter is silenced.
set(KIVO_TEST_ENV "WINEDEBUG=-all" "WINEDLLOVERRIDES=mscoree,mshtml=")

# A GoogleTest program; ctest runs it whole (one ctest entry per program keeps Wine start-ups few).
function(kivo_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES OR KIVO_FUZZ)  # the fuzz build holds the fuzz targets' tests only
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main kivo_warnings)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${KIVO_TEST_ENV}" TIMEOUT 600)
endfunction()

# One of our programs, with the wide entry point of its platform (console or GUI subsystem).
function(kivo_add_program name kind)
  set(entry ${kind})
  if(NOT WIN32)
    set(entry console)  # no GUI subsystem here: every program starts like a console one
  endif()
  add_executable(${name} ${ARGN} ${KIVO_PLATFORM_DIR}/${KIVO_BACKEND}/entry_${entry}.cpp)
  target_link_libraries(${name} PRIVATE kivo_warnings)
  if(WIN32)
    target_link_options(${name} PRIVATE -municode)
    if(kind STREQUAL "gui")
      set_target_properties(${name} PROPERTIES WIN32_EXECUTABLE ON)
    endif()
  endif()
endfunction()

# A static library of the given sources (a folder may not have any yet).
function(kivo_add_library name)
  if(NOT ARGN)
    set(ARGN ${CMAKE_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  add_library(${name} STATIC ${ARGN})
  target_link_libraries(${name} PRIVATE kivo_warnings)
endfunction()
