# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
# One program; its scenarios run in child processes of their own (--child).
kivo_add_test(NAME console_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/console_child.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console_settings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console_window_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/busy_indicator_test.cpp
)
