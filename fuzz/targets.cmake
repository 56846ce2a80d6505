# The fuzz targets: each is a unit with FuzzOne, a static library that both the
# libFuzzer programs (fuzz/CMakeLists.txt, the asan and fuzz presets) and the
# replay tests of the kept inputs (tests/CMakeLists.txt, every preset) link.
set(CORVANE_FUZZ_TARGETS regfile_import hive_restore store_open catalog_read mail_import settings_read catalog_records)
# A build of both includes this twice: the units are made once.
if(TARGET fuzzsupport)
  return()
endif()

if(TARGET testcommon)
  add_library(fuzzsupport STATIC ${CMAKE_SOURCE_DIR}/fuzz/fuzz_support.cpp)
  target_link_libraries(fuzzsupport PUBLIC testcommon)
else()
  # A fuzz build without the tests: the fresh roots' helpers come in here.
  add_library(fuzzsupport STATIC ${CMAKE_SOURCE_DIR}/fuzz/fuzz_support.cpp ${CMAKE_SOURCE_DIR}/tests/common/fresh_root.cpp)
  target_include_directories(fuzzsupport PUBLIC ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(fuzzsupport PUBLIC cvwin32 cvowners GTest::gtest)
  target_compile_definitions(fuzzsupport PRIVATE CORVANE_TESTDATA_DIR="${CMAKE_SOURCE_DIR}/../shared/testdata")
endif()
target_include_directories(fuzzsupport PUBLIC ${CMAKE_SOURCE_DIR}/fuzz)

foreach(name ${CORVANE_FUZZ_TARGETS})
  add_library(fuzzunit_${name} STATIC ${CMAKE_SOURCE_DIR}/fuzz/targets/${name}.cpp)
  target_link_libraries(fuzzunit_${name} PUBLIC fuzzsupport)
endforeach()
target_link_libraries(fuzzunit_regfile_import PUBLIC regfile)
target_link_libraries(fuzzunit_mail_import PUBLIC mailimport)
target_link_libraries(fuzzunit_catalog_read PUBLIC corvane_core)
target_link_libraries(fuzzunit_settings_read PUBLIC corvane_core)
# The store-file contracts of the MAPI stand-in open a store without a profile.
foreach(name store_open catalog_records)
  target_include_directories(fuzzunit_${name} PRIVATE ${CMAKE_SOURCE_DIR}/platform/mapi)
  target_link_libraries(fuzzunit_${name} PUBLIC cvmapi)
endforeach()
target_link_libraries(fuzzunit_catalog_records PUBLIC corvane_core)
# Its machine is arranged with the admin tool.
add_dependencies(fuzzunit_catalog_records mapiadmin)
