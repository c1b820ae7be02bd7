# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
kivo_add_test(NAME platform_registry_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp)
kivo_add_test(NAME platform_restart_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/restart_test.cpp)
kivo_add_test(NAME platform_restart_test_win98 TARGET platform_restart_test ENV KIVO_WINVER=win98)
