# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
kivo_add_test(NAME driver_argument_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/relaunch_argument_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/catalogue_test.cpp)
