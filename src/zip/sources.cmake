# Files of this subsystem, added to the program's core library.
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/crc32.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/zip_time.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/zip_crypt.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/zip_io.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/zip_archive.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/zip_folder.cpp)
