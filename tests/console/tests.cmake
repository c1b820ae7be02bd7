# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
# One program; its scenarios run in child processes of their own (--child).
kivo_add_test(NAME console_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/console_child.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console_settings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/console_window_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/busy_indicator_test.cpp
  ARGS --gtest_filter=-ThreadTable.ThreadCreationFailure*
)
# Fills the address space until no thread stack fits: meaningful only in a
# 32-bit process, so the 64-bit build reports it skipped, with its reason.
kivo_add_test(NAME console_thread_failure_test TARGET console_test
  ARGS --gtest_filter=ThreadTable.ThreadCreationFailure*)
set_tests_properties(console_thread_failure_test PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
