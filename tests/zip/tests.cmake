# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
# Every archive that the Wine tests write is checked afterwards, on the Linux
# side, by zipfile, zlib, unzip and 7z (check_archives.py).
kivo_add_test(NAME zip_pure_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/zip_pure_test.cpp)
kivo_add_test(NAME zip_container_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/zip_verify_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zip_container_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zip_test_support.cpp
  ARGS --gtest_filter=-*FourGibibytes*
  ENV "KIVO_POSTCHECK=python3 ${CMAKE_CURRENT_LIST_DIR}/check_archives.py")
# Pushes 4 GiB through a pipe (about a minute): a ctest entry of its own,
# labelled slow, so that it runs beside the others and can be left out.
kivo_add_test(NAME zip_limits_test TARGET zip_container_test
  ARGS --gtest_filter=*FourGibibytes*
  LABELS slow
  ENV "KIVO_POSTCHECK=python3 ${CMAKE_CURRENT_LIST_DIR}/check_archives.py")
kivo_add_test(NAME zip_folder_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/zip_folder_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zip_test_support.cpp
  ENV "KIVO_POSTCHECK=python3 ${CMAKE_CURRENT_LIST_DIR}/check_archives.py")
