# cmake -DBUILD_DIR=<i686 build tree> -P check_i686_build.cmake
# The shipped build: every product library holds pe-i386 objects, and every
# program in bin/ is a PE32 image (pei-i386).
find_program(OBJDUMP i686-w64-mingw32-objdump REQUIRED)
file(GLOB_RECURSE libraries ${BUILD_DIR}/libkavo_*.a)
file(GLOB programs ${BUILD_DIR}/bin/*.exe)
if(NOT libraries)
  message(FATAL_ERROR "no product library in ${BUILD_DIR}")
endif()
set(files ${libraries} ${programs})
execute_process(COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} -DOBJECT_FORMAT=pe-i386
                        -DIMAGE_FORMAT=pei-i386 "-DFILES=${files}"
                        -P ${CMAKE_CURRENT_LIST_DIR}/../cmake/check_pe_format.cmake
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the i686 build is not PE32")
endif()
