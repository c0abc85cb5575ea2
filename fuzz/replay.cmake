# Replay of the fuzz seeds and saved crash inputs in an ordinary build (any
# compiler, no fuzzing engine): one replay_<target> program per fuzz target
# and one test each. Include from the top-level CMakeLists.txt where the
# tests are enabled. A fuzzing build (SKINBURN_FUZZ) replays with the fuzz
# targets themselves instead.
include_guard(GLOBAL)
if(SKINBURN_FUZZ)
  return()
endif()

set(_fuzz_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(skinburn_replay_common STATIC ${_fuzz_dir}/fuzz_common.cpp)
target_link_libraries(skinburn_replay_common PUBLIC skinburn_core)

foreach(target IN ITEMS fuzz_datadat fuzz_datafile fuzz_gasprop fuzz_check fuzz_cmdline)
  string(REPLACE "fuzz_" "replay_" replay ${target})
  add_executable(${replay} ${_fuzz_dir}/${target}.cpp ${_fuzz_dir}/replay_main.cpp)
  target_link_libraries(${replay} PRIVATE skinburn_replay_common)
  # A target with no saved crash has no regressions folder (git keeps no
  # empty folder).
  set(_inputs ${_fuzz_dir}/corpus/${target})
  if(EXISTS ${_fuzz_dir}/regressions/${target})
    list(APPEND _inputs ${_fuzz_dir}/regressions/${target})
  endif()
  add_test(NAME ${replay} COMMAND ${replay} ${_inputs})
  set_tests_properties(${replay} PROPERTIES LABELS fuzz)
endforeach()
