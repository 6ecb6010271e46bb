# Build-tree layout mirrors the installed tree so that the same relative
# look-ups work in both:
#   bin/firmstep, bin/firmstep.ini
#   lib/libcvcrt.so, lib/libcorvane.so
#   lib/corvane-plugins/cvpl-*.so      (found relative to libcorvane)
set(FIRMSTEP_OUT ${CMAKE_BINARY_DIR})
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${FIRMSTEP_OUT}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${FIRMSTEP_OUT}/lib)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${FIRMSTEP_OUT}/lib)
set(FIRMSTEP_PLUGIN_SUBDIR corvane-plugins)
set(FIRMSTEP_PLUGIN_OUT ${FIRMSTEP_OUT}/lib/${FIRMSTEP_PLUGIN_SUBDIR})
set(FIRMSTEP_TEST_PLUGIN_OUT ${FIRMSTEP_OUT}/test-plugins)

# Programs find their libraries through $ORIGIN, so nothing needs LD_LIBRARY_PATH.
set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR};$ORIGIN")

# firmstep_plugin(<name> [TEST_ONLY] SOURCES ... [LIBS ...]): a plug-in module named
# <name>.so (no "lib" prefix), placed in the plug-in directory of the build and the
# install tree; TEST_ONLY puts it in <build>/test-plugins instead and installs nothing.
function(firmstep_plugin name)
  cmake_parse_arguments(P "TEST_ONLY" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${P_SOURCES})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX ".so")
  target_link_libraries(${name} PRIVATE corvane cvcrt Threads::Threads ${P_LIBS})
  firmstep_warnings(${name})
  if(P_TEST_ONLY)
    set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${FIRMSTEP_TEST_PLUGIN_OUT})
  else()
    set_target_properties(${name} PROPERTIES
      LIBRARY_OUTPUT_DIRECTORY ${FIRMSTEP_PLUGIN_OUT}
      BUILD_RPATH "$ORIGIN/.."
      INSTALL_RPATH "$ORIGIN/..")
    install(TARGETS ${name} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/${FIRMSTEP_PLUGIN_SUBDIR})
  endif()
endfunction()

# firmstep_test(<name> SOURCES ... LIBS ...): a GoogleTest program registered with CTest.
function(firmstep_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  firmstep_warnings(${name})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${FIRMSTEP_OUT}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "FIRMSTEP_BUILD_DIR=${FIRMSTEP_OUT}")
endfunction()

# firmstep_fuzz(<name> SOURCES ... LIBS ...): a target defining LLVMFuzzerTestOneInput.
# With FIRMSTEP_FUZZ (clang) it becomes a libFuzzer program in <build>/fuzz.
# In ordinary test builds the same entry point is linked with a replay driver and
# registered with CTest: it runs the seed corpus (<name>_corpus next to the source)
# plus ROUNDS seeded mutations (default 20000), so every build exercises it.
if(FIRMSTEP_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
function(firmstep_fuzz name)
  cmake_parse_arguments(F "" "ROUNDS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_ROUNDS)
    set(F_ROUNDS 20000)
  endif()
  set(corpus ${CMAKE_CURRENT_SOURCE_DIR}/${name}_corpus)
  if(FIRMSTEP_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_link_libraries(${name} PRIVATE ${F_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${FIRMSTEP_OUT}/fuzz)
  elseif(FIRMSTEP_BUILD_TESTS)
    add_executable(${name}_replay ${F_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/fuzz_replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${F_LIBS})
    target_include_directories(${name}_replay PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
    firmstep_warnings(${name}_replay)
    set_target_properties(${name}_replay PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${FIRMSTEP_OUT}/tests)
    add_test(NAME ${name}_replay COMMAND ${name}_replay ${corpus} ${F_ROUNDS})
  endif()
endfunction()
