# Files of this subsystem, added to the program's core library.
list(APPEND KIVO_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/console_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console_settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/thread_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/busy_indicator.cpp
)
