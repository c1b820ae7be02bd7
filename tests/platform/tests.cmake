# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
kivo_add_test(NAME platform_registry_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp)
kivo_add_test(NAME platform_restart_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/restart_test.cpp)
kivo_add_test(NAME platform_restart_test_win98 TARGET platform_restart_test ENV KIVO_WINVER=win98)
add_library(planted SHARED ${CMAKE_CURRENT_LIST_DIR}/planted_dll.cpp)
set_target_properties(planted PROPERTIES PREFIX "")
target_link_options(planted PRIVATE -static)
kivo_add_test(NAME platform_dll_search_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/dll_search_test.cpp
  ENV "KIVO_COPY_IN=$<TARGET_FILE:planted>")
add_dependencies(platform_dll_search_test planted)
