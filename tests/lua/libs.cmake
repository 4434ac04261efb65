# Tests of the auxiliary and standard libraries and of the chunk format;
# included from tests/lua/CMakeLists.txt.
tolm_test(lua_libs_test
  SOURCES lib_corpus_test.cc lib_aux_test.cc lib_string_test.cc lib_io_test.cc lib_debug_test.cc
  DEPS tolm_lua SUPPORT tolm_testharness)
tolm_test(lua_chunk_test
  SOURCES chunk_test.cc
  DEPS tolm_lua SUPPORT tolm_testharness)

# Loader fuzz targets. With clang they are libFuzzer binaries (run them as
# `lua_fuzz_chunk -max_total_time=60 corpus/`) over a copy of the
# interpreter built with the fuzzer's coverage instrumentation (the fuzzer
# is blind to code built without it); otherwise each is linked with a replay
# driver and a bounded seeded run is part of the tests.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  get_target_property(LUA_FUZZ_SOURCES tolm_lua SOURCES)
  get_target_property(LUA_FUZZ_DIR tolm_lua SOURCE_DIR)
  list(TRANSFORM LUA_FUZZ_SOURCES PREPEND ${LUA_FUZZ_DIR}/ REGEX "^[^/]")
  add_library(tolm_lua_fuzz STATIC EXCLUDE_FROM_ALL ${LUA_FUZZ_SOURCES})
  target_include_directories(tolm_lua_fuzz PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(tolm_lua_fuzz PRIVATE -fsanitize=fuzzer-no-link)
  target_compile_definitions(tolm_lua_fuzz PRIVATE $<TARGET_PROPERTY:tolm_lua,COMPILE_DEFINITIONS>)
  target_link_libraries(tolm_lua_fuzz PUBLIC m)
endif()
foreach(target fuzz_chunk fuzz_source)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(lua_${target} ${target}.cc)
    target_compile_options(lua_${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(lua_${target} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(lua_${target} PRIVATE tolm_lua_fuzz)
  else()
    add_executable(lua_${target} ${target}.cc fuzz_replay.cc)
    add_test(NAME lua_${target}_bounded COMMAND lua_${target})
    target_link_libraries(lua_${target} PRIVATE tolm_lua)
  endif()
  target_include_directories(lua_${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
endforeach()

# Inputs that once crashed the process stay in the tests.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  file(GLOB LUA_FUZZ_CRASHES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz-crashes/*.bcz)
  add_test(NAME lua_fuzz_chunk_regressions COMMAND lua_fuzz_chunk ${LUA_FUZZ_CRASHES})
  # and the chunk target's seeds (fuzz/corpus/lua_fuzz_chunk) replay cleanly
  file(GLOB LUA_FUZZ_CHUNK_SEEDS ${PROJECT_SOURCE_DIR}/fuzz/corpus/lua_fuzz_chunk/*.bcz)
  add_test(NAME lua_fuzz_chunk_seeds COMMAND lua_fuzz_chunk ${LUA_FUZZ_CHUNK_SEEDS})
  file(GLOB LUA_FUZZ_SOURCE_CRASHES ${CMAKE_CURRENT_SOURCE_DIR}/fuzz-crashes/*.lua)
  add_test(NAME lua_fuzz_source_regressions COMMAND lua_fuzz_source ${LUA_FUZZ_SOURCE_CRASHES})
endif()
