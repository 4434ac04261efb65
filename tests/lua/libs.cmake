# Tests of the auxiliary and standard libraries and of the chunk format;
# included from tests/lua/CMakeLists.txt.
tolm_test(lua_libs_test
  SOURCES lib_corpus_test.cc lib_aux_test.cc lib_string_test.cc lib_io_test.cc
  DEPS tolm_lua)
tolm_test(lua_chunk_test
  SOURCES chunk_test.cc
  DEPS tolm_lua)
