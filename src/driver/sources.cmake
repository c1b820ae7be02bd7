# Files of this subsystem, added to the program's core library.
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/driver_state.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/archive_name.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/delete_command.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/sequence.cpp)
list(APPEND KIVO_SOURCES ${CMAKE_CURRENT_LIST_DIR}/second_stage.cpp)
