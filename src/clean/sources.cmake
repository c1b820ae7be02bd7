# Files of this subsystem, added to the program's core library.
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_tests.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_copy.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/path_text.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/folder_removal.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/shortcuts.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/associations.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/autoexec_edit.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/environment.cpp)
