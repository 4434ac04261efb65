# Tests of the auxiliary and standard libraries and of the chunk format;
# included from tests/lua/CMakeLists.txt.
tolm_test(lua_libs_test
  SOURCES lib_corpus_test.cc lib_aux_test.cc lib_string_test.cc lib_io_test.cc
  DEPS tolm_lua)
tolm_test(lua_chunk_test
  SOURCES chunk_test.cc
  DEPS tolm_lua)

# Loader fuzz targets. With clang they are libFuzzer binaries (run them as
# `lua_fuzz_chunk -max_total_time=60 corpus/`); otherwise each is linked
# with a replay driver and a bounded seeded run is part of the tests.
foreach(target fuzz_chunk fuzz_source)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    add_executable(lua_${target} ${target}.cc)
    target_compile_options(lua_${target} PRIVATE -fsanitize=fuzzer)
    target_link_options(lua_${target} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(lua_${target} ${target}.cc fuzz_replay.cc)
    add_test(NAME lua_${target}_bounded COMMAND lua_${target})
  endif()
  target_include_directories(lua_${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(lua_${target} PRIVATE tolm_lua)
endforeach()
