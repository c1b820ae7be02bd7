# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
kivo_add_test(NAME clean_folders_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/folder_removal_test.cpp
  ENV "KIVO_PRERUN=${CMAKE_CURRENT_LIST_DIR}/links.sh && ${CMAKE_CURRENT_LIST_DIR}/../bench/links.sh t/linked/out=elsewhere && ${CMAKE_CURRENT_LIST_DIR}/../bench/swapper.sh")
kivo_add_test(NAME clean_file_tests_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/file_tests_test.cpp)
kivo_add_test(NAME clean_shortcuts_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/shortcuts_test.cpp
  ARGS --gtest_filter=Shortcuts.* ENV "KIVO_PRERUN=${CMAKE_CURRENT_LIST_DIR}/make-links.sh && ${CMAKE_CURRENT_LIST_DIR}/../bench/swapper.sh")
kivo_add_test(NAME clean_shortcuts_9x_test TARGET clean_shortcuts_test
  ARGS --gtest_filter=Shortcuts9x.* ENV KIVO_WINVER=win98)
kivo_add_test(NAME clean_associations_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/associations_test.cpp)
kivo_add_test(NAME clean_environment_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/environment_test.cpp
  ARGS --gtest_filter=EnvironmentNT.*)
kivo_add_test(NAME clean_environment_9x_test TARGET clean_environment_test
  ARGS --gtest_filter=Environment9x.* ENV KIVO_WINVER=win98
  "KIVO_PRERUN=mkdir \"$KIVO_PREFIX_DIR/drive_d\" && ln -s ../drive_d \"$KIVO_PREFIX_DIR/dosdevices/d:\"")
# The path walk of Windows 9x, which has neither links, folder handles nor
# names beyond its code page and MAX_PATH.
kivo_add_test(NAME clean_folders_9x_test TARGET clean_folders_test
  ARGS "--gtest_filter=FolderDeleteTree.*:FolderDeleteFiles.*:ProgramFilesDelete.Leaves*:-*NamesInAnyScript*:*Links*"
  ENV KIVO_WINVER=win98)
