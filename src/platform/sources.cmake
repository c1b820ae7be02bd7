# Files of this subsystem, added to the program's core library.
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/restart.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/wide_files.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/dll_search.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/windows_version.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/paths.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/profiles.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/handle_walk.cpp)
