# Small helpers so that every folder is one library and every test folder one
# executable, each declared in a single call.

# kelvora_library(<folder> SOURCES ... DEPS ...) builds target kelvora_<folder>.
function(kelvora_library folder)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(kelvora_${folder} STATIC ${ARG_SOURCES})
  target_include_directories(kelvora_${folder} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(kelvora_${folder} PUBLIC ${ARG_DEPS})
endfunction()

# kelvora_test(<folder> SOURCES ... DEPS ... [LAUNCHER ...]) builds
# <folder>_tests and registers it with CTest, started through the launcher
# command when one is given; tests run in a scratch folder of their own.
function(kelvora_test folder)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LAUNCHER" ${ARGN})
  add_executable(${folder}_tests ${ARG_SOURCES})
  target_include_directories(${folder}_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${folder}_tests PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  set(work ${CMAKE_BINARY_DIR}/test_work/${folder})
  file(MAKE_DIRECTORY ${work})
  add_test(NAME ${folder} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${folder}_tests>
           WORKING_DIRECTORY ${work})
endfunction()
