# Whole-program scenarios: each ctest entry runs in a fresh prefix copy.
set(E2E_POSTCHECK "python3 ${CMAKE_CURRENT_LIST_DIR}/check_archive.py")
kivo_add_test(NAME e2e_uninstall SOURCES e2e/e2e_test.cpp e2e/sample_install.cpp e2e/demo_driver.cpp
  e2e/files_step_timing.cpp e2e/stop_test.cpp
  ARGS --gtest_filter=EndToEnd.* ENV "KIVO_POSTCHECK=${E2E_POSTCHECK}" DEPENDS_PROGRAM TIMEOUT 240)
target_link_libraries(e2e_uninstall PRIVATE ole32 uuid shell32)
kivo_add_test(NAME e2e_uninstall_fr TARGET e2e_uninstall ARGS --gtest_filter=EndToEnd.*
  ENV KIVO_LANG=fr_FR.UTF-8 "KIVO_POSTCHECK=${E2E_POSTCHECK}" TIMEOUT 240)
kivo_add_test(NAME e2e_uninstall_es TARGET e2e_uninstall ARGS --gtest_filter=EndToEnd.*
  ENV KIVO_LANG=es_MX.UTF-8 "KIVO_POSTCHECK=${E2E_POSTCHECK}" TIMEOUT 240)
kivo_add_test(NAME e2e_uninstall_win10 TARGET e2e_uninstall ARGS --gtest_filter=EndToEnd.*
  ENV KIVO_WINVER=win10 "KIVO_POSTCHECK=${E2E_POSTCHECK}" TIMEOUT 240)
kivo_add_test(NAME e2e_uninstall_win98 TARGET e2e_uninstall ARGS --gtest_filter=EndToEnd.*
  ENV KIVO_WINVER=win98 "KIVO_POSTCHECK=${E2E_POSTCHECK}" TIMEOUT 240)
# Windows 2000 and XP: their version modes with their profile layout under
# C:\Documents and Settings (All Users, Start Menu, Application Data).
set(E2E_XP_PROFILES "KIVO_PRERUN=${CMAKE_CURRENT_LIST_DIR}/xp-profiles.sh")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(E2E_XP_VERSION winxp64)
else()
  set(E2E_XP_VERSION winxp)
endif()
kivo_add_test(NAME e2e_uninstall_winxp TARGET e2e_uninstall ARGS --gtest_filter=EndToEnd.*
  ENV KIVO_WINVER=${E2E_XP_VERSION} ${E2E_XP_PROFILES} "KIVO_POSTCHECK=${E2E_POSTCHECK}" TIMEOUT 240)
kivo_add_test(NAME e2e_uninstall_win2k TARGET e2e_uninstall ARGS --gtest_filter=EndToEnd.*
  ENV KIVO_WINVER=win2k ${E2E_XP_PROFILES} "KIVO_POSTCHECK=${E2E_POSTCHECK}" TIMEOUT 240)
kivo_add_test(NAME e2e_private_copy TARGET e2e_uninstall ARGS --gtest_filter=PrivateCopy.*
  ENV "KIVO_POSTCHECK=${E2E_POSTCHECK}" TIMEOUT 240)
# C:\Swap\KIVO is a link to C:\Victim, which holds a file of its own.
kivo_add_test(NAME e2e_refusals TARGET e2e_uninstall ARGS --gtest_filter=Refusals.* TIMEOUT 300
  ENV "KIVO_PRERUN=${CMAKE_CURRENT_LIST_DIR}/../bench/links.sh Swap/KIVO=Victim && echo victim > $KIVO_PREFIX_DIR/drive_c/Victim/victim.txt")
# Runs ended by TerminateProcess at seeded points, then run again; a longer
# run: KIVO_STOP_POINTS=200 (and KIVO_STOP_SEED) in the environment.
add_executable(stopped_run WIN32 e2e/stopped_run.cpp)
target_link_libraries(stopped_run PRIVATE kivo_core)
target_include_directories(stopped_run PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
add_dependencies(e2e_uninstall stopped_run)
kivo_add_test(NAME e2e_stops TARGET e2e_uninstall ARGS --gtest_filter=Stops.* TIMEOUT 900
  ENV "KIVO_COPY_IN=$<TARGET_FILE:stopped_run>")
kivo_add_test(NAME e2e_full_drive TARGET e2e_uninstall ARGS --gtest_filter=FullDrive.*
  ENV "KIVO_PRERUN=${CMAKE_CURRENT_LIST_DIR}/small-drive.sh" TIMEOUT 120)
# The shipped 32-bit program as a file (read, never run, so the 64-bit flavour
# checks it too): machine, subsystem, imports, icon, version, manifest, and
# that it loads on Windows 95 and NT 4.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KIVO_SHIPPED_PROGRAM ${CMAKE_BINARY_DIR}/uninstKIVO.exe CACHE FILEPATH "The 32-bit uninstKIVO.exe that ships")
else()
  set(KIVO_SHIPPED_PROGRAM ${CMAKE_SOURCE_DIR}/build/uninstKIVO.exe CACHE FILEPATH "The 32-bit uninstKIVO.exe that ships")
endif()
# Its imports against the table of the Windows versions that export them, and
# its object files' calls of what Windows 9x has only as stubs.
get_filename_component(shipped_tree ${KIVO_SHIPPED_PROGRAM} DIRECTORY)
add_test(NAME e2e_program_file COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/check_program_file.py ${KIVO_SHIPPED_PROGRAM}
  ${CMAKE_CURRENT_LIST_DIR}/import_floors.tsv ${shipped_tree}/CMakeFiles/kivo_core.dir
  ${shipped_tree}/CMakeFiles/uninstKIVO.dir)
set_tests_properties(e2e_program_file PROPERTIES LABELS static TIMEOUT 60)
