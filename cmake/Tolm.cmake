# Shared build helpers.
include(GoogleTest)
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)

# tolm_add_folders(<dir> [EXCLUDE <names>...]): add_subdirectory for every
# folder directly below <dir> that has a CMakeLists.txt, in name order.
# Targets may name libraries of folders added later: links resolve at
# generation time.
function(tolm_add_folders dir)
  cmake_parse_arguments(TA "" "" "EXCLUDE" ${ARGN})
  file(GLOB entries RELATIVE ${dir} ${dir}/*)
  list(SORT entries)
  foreach(name ${entries})
    if(IS_DIRECTORY ${dir}/${name} AND EXISTS ${dir}/${name}/CMakeLists.txt
       AND NOT name IN_LIST TA_EXCLUDE AND NOT name MATCHES "^(\\.|build)")
      add_subdirectory(${dir}/${name})
    endif()
  endforeach()
endfunction()

# tolm_library(<name> [DEPS <libs>...]): the folder's library from every
# .cc/.c file in it. Static objects that register themselves (codec
# prototypes, renderer factories, built-in modules) survive linking because
# consumers link registering libraries with tolm_link_whole().
function(tolm_library name)
  cmake_parse_arguments(TL "" "" "DEPS;SOURCES" ${ARGN})
  if(NOT TL_SOURCES)
    file(GLOB TL_SOURCES CONFIGURE_DEPENDS
         ${CMAKE_CURRENT_SOURCE_DIR}/*.cc ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  endif()
  if(TL_SOURCES)
    add_library(${name} STATIC ${TL_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    if(TL_DEPS)
      target_link_libraries(${name} PUBLIC ${TL_DEPS})
    endif()
  else()
    # Headers only so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    if(TL_DEPS)
      target_link_libraries(${name} INTERFACE ${TL_DEPS})
    endif()
  endif()
endfunction()

# Links a library whose static registration objects must all be kept.
function(tolm_link_whole target lib)
  get_target_property(kind ${lib} TYPE)
  if(kind STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(${target} PRIVATE ${lib})
  else()
    target_link_libraries(${target} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${lib}>")
  endif()
endfunction()

# tolm_test(<name> SOURCES <files>... [DEPS <libs>...] [SUPPORT <lib>]): a
# GoogleTest binary whose cases are registered with CTest one by one. It
# links the image test helpers (tolm_testsupport) unless SUPPORT names
# another, e.g. the generic tolm_testharness.
function(tolm_test name)
  cmake_parse_arguments(TT "" "SUPPORT" "SOURCES;DEPS" ${ARGN})
  if(NOT TT_SUPPORT)
    set(TT_SUPPORT tolm_testsupport)
  endif()
  add_executable(${name} ${TT_SOURCES})
  target_link_libraries(${name} PRIVATE ${TT_DEPS} ${TT_SUPPORT} GTest::gtest GTest::gtest_main Threads::Threads)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
                       WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                       PROPERTIES ENVIRONMENT "TOLM_SOURCE_DIR=${PROJECT_SOURCE_DIR}" LABELS ${name})
endfunction()

# tolm_folder_tests(<name> DEPS <libs>...): one test binary from every
# *_test.cc in the calling folder.
function(tolm_folder_tests name)
  cmake_parse_arguments(TF "" "" "DEPS" ${ARGN})
  file(GLOB TF_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cc)
  if(TF_SOURCES)
    tolm_test(${name} SOURCES ${TF_SOURCES} DEPS ${TF_DEPS})
  endif()
endfunction()
