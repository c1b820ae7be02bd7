# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
kivo_add_test(NAME clean_folders_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/folder_removal_test.cpp)
kivo_add_test(NAME clean_file_tests_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_tests_test.cpp)
kivo_add_test(NAME clean_shortcuts_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/shortcuts_test.cpp)
