# vexa_add_test(<name> <sources>...): a GoogleTest program registered with
# CTest. Natively it runs under ASan/UBSan; in the Windows tree CTest runs it
# under Wine (CMAKE_CROSSCOMPILING_EMULATOR). Windows-only test programs link
# vexa_win as well.
function(vexa_add_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE vexa_core gtest_main gmock)
  if(WIN32)
    target_link_libraries(${name} PRIVATE vexa_win)
  endif()
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  # Under Wine the Linux root is drive Z:.
  if(WIN32)
    set(prefix "Z:")
  else()
    set(prefix "")
  endif()
  # The two folders go only to the sources that name them: a clone's own
  # paths on every test file's command line would keep a compiler cache from
  # serving one clone what another already compiled.
  foreach(src ${ARGN})
    get_filename_component(path ${src} ABSOLUTE)
    if(EXISTS ${path})
      file(STRINGS ${path} uses REGEX "VEXA_(TEST_DATA|BUILD)_DIR" LIMIT_COUNT 1)
      if(uses)
        set_property(SOURCE ${src} APPEND PROPERTY COMPILE_DEFINITIONS
                     VEXA_TEST_DATA_DIR="${prefix}${CMAKE_SOURCE_DIR}/tests/data"
                     VEXA_BUILD_DIR="${prefix}${CMAKE_BINARY_DIR}")
      endif()
    endif()
  endforeach()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(WIN32)
    # Every Windows test program shares one Wine prefix: its registry, temp
    # folder, named mutexes and the statistics port. Run them one at a time.
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wine_prefix)
    # A program that crashes under wine64 can still end with exit code 0, so
    # a run passes only when GoogleTest reached its closing line.
    set_tests_properties(${name} PROPERTIES PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ test"
                                            FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]")
  endif()
endfunction()

# Includes every sub-folder of the current folder that has a CMakeLists.txt.
function(vexa_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child ${children})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${child})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt AND NOT rel IN_LIST VEXA_EXCLUDE_DIRS)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
