# Faults: the installer executable when its surroundings break (a full disk,
# unusable temporary folders, stale directories that cannot be removed, a
# setup program held open by another process, a run killed half-way).

set(faults_data ${CMAKE_CURRENT_BINARY_DIR}/faults)
set(faults_small_archive ${faults_data}/small.7z)
set(faults_large_archive ${faults_data}/large.7z)
add_custom_command(OUTPUT ${faults_small_archive}
  COMMAND ${CMAKE_COMMAND} -DOUT=${faults_small_archive} -DKIB=192
          -P ${CMAKE_CURRENT_SOURCE_DIR}/faults_archive.cmake
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/faults_archive.cmake
  VERBATIM)
# Large enough that its digest takes a while: the window between setup.exe
# being written and being started, which the held-open test must hit; and
# bigger than the small tmpfs.
add_custom_command(OUTPUT ${faults_large_archive}
  COMMAND ${CMAKE_COMMAND} -DOUT=${faults_large_archive} -DKIB=32768
          -P ${CMAKE_CURRENT_SOURCE_DIR}/faults_archive.cmake
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/faults_archive.cmake
  VERBATIM)
add_custom_target(faults_archives DEPENDS ${faults_small_archive} ${faults_large_archive})

set(faults_common OBJECTS kavo_installer_objects SETUP $<TARGET_FILE:setup_double>
    EXTRA_RC ${CMAKE_SOURCE_DIR}/resources/installer.rc DEPENDS setup_double faults_archives)
kavo_add_installer(faults_installer ARCHIVE ${faults_small_archive} ${faults_common})
kavo_add_installer(faults_installer_large ARCHIVE ${faults_large_archive} ${faults_common})

kavo_add_test(faults_tests
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/faults_test.cpp
          ${CMAKE_SOURCE_DIR}/tests/workarea/workarea_test_support.cpp
  DEPENDS faults_installer faults_installer_large setup_double)

# The small disk and the lockable folder, prepared from Linux. The Windows
# side reaches them through Wine's Z: drive.
set(faults_tmpfs ${CMAKE_BINARY_DIR}/faults_tmpfs)
set(faults_lockable ${CMAKE_BINARY_DIR}/faults_lockable)
set(faults_fixture ${CMAKE_CURRENT_SOURCE_DIR}/faults_fixture.sh)
add_test(NAME faults_fixture_setup
         COMMAND sh ${faults_fixture} setup ${faults_tmpfs} 4m ${faults_lockable})
add_test(NAME faults_fixture_cleanup
         COMMAND sh ${faults_fixture} cleanup ${faults_tmpfs} ${faults_lockable})
set_tests_properties(faults_fixture_setup PROPERTIES FIXTURES_SETUP faults_surroundings)
set_tests_properties(faults_fixture_cleanup PROPERTIES FIXTURES_CLEANUP faults_surroundings)
string(REPLACE "/" "\\" faults_tmpfs_windows "Z:${faults_tmpfs}")
string(REPLACE "/" "\\" faults_lockable_windows "Z:${faults_lockable}")
set_tests_properties(faults_tests PROPERTIES FIXTURES_REQUIRED faults_surroundings)
set_property(TEST faults_tests APPEND PROPERTY ENVIRONMENT
             "KAVO_FAULTS_TMPFS=${faults_tmpfs_windows}"
             "KAVO_FAULTS_LOCKABLE=${faults_lockable_windows}")
