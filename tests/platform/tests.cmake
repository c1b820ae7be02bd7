# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
kivo_add_test(NAME platform_registry_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp)
