# Planted DLLs: the shipped program's objects on a small payload, once with
# a digest that matches (setup runs) and once with one that does not (the
# notice is shown), run from a folder holding DLLs of our own.
add_library(planted_dll MODULE ${CMAKE_CURRENT_LIST_DIR}/planted_dll.cpp)
set_target_properties(planted_dll PROPERTIES PREFIX "" OUTPUT_NAME planted)
target_link_options(planted_dll PRIVATE -municode)

add_executable(plain_loader WIN32 ${CMAKE_CURRENT_LIST_DIR}/plain_loader.cpp)
target_link_options(plain_loader PRIVATE -municode)
target_link_libraries(plain_loader PRIVATE shell32)

# Any file serves as the archive: setup_double does not read it.
set(planting_archive ${CMAKE_CURRENT_LIST_DIR}/plain_loader.cpp)
kavo_add_installer(planting_installer OBJECTS kavo_installer_objects
                   ARCHIVE ${planting_archive} SETUP $<TARGET_FILE:setup_double>
                   DEPENDS setup_double)
kavo_add_installer(planting_installer_corrupt OBJECTS kavo_installer_objects
                   ARCHIVE ${planting_archive} SETUP $<TARGET_FILE:setup_double>
                   DIGEST 00000000000000000000000000000000 DEPENDS setup_double)

kavo_add_test(dll_planting_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/dll_planting_test.cpp
  LIBS advapi32
  DEPENDS planted_dll plain_loader planting_installer planting_installer_corrupt setup_double
          window_answerer)
# Wine takes the DLL load order of a process it starts from the variable
# its parent had at start (a change made by a running test does not reach
# its children), so the overrides are given to the test program itself.
set_tests_properties(dll_planting_tests PROPERTIES ENVIRONMENT
  "WINEPREFIX=${KAVO_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=\\;uxtheme,cabinet,dwmapi,cryptbase,comctl32,winmm=n,b")
