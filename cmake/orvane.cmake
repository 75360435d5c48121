# Helpers shared by the component build files.

# ov_add_gtest(NAME SOURCES a.cpp b.cpp LIBS lib...)
# One GoogleTest binary per component, its cases registered with CTest.
function(ov_add_gtest name)
  if(NOT OV_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ovtesting GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 300)
endfunction()

# ov_add_fuzzer(NAME SOURCES a.cpp LIBS lib... [CORPUS dir])
# With OV_FUZZ the target is a libFuzzer binary; otherwise it is built with a
# small driver that runs every file of its seed corpus once, and that run is
# a test, so each fuzz entry point stays exercised in every build.
function(ov_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  if(OV_FUZZ)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/standalone_main.cpp)
    if(OV_TESTS AND ARG_CORPUS)
      add_test(NAME fuzz.${name} COMMAND ${name} ${ARG_CORPUS})
      set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300)
    endif()
  endif()
endfunction()
