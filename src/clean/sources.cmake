# Files of this subsystem, added to the program's core library.
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_tests.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_copy.cpp)
