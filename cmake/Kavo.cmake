# Helpers shared by the folders of the project.

# Product code is kept small: no exceptions, no RTTI, dead code dropped.
# Link-time optimisation lets the linker inline and drop across the
# subsystem libraries (about 2 KB of the stub); the objects stay fat, so a
# program linked without -flto still gets ordinary code from them.
set(KAVO_PRODUCT_COMPILE_OPTIONS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections -fomit-frame-pointer -flto -ffat-lto-objects)

# kavo_product_library(<name> <sources>...): one static library of the product.
function(kavo_product_library name)
  add_library(${name} STATIC ${ARGN})
  target_compile_options(${name} PRIVATE ${KAVO_PRODUCT_COMPILE_OPTIONS})
  set_property(GLOBAL APPEND PROPERTY KAVO_PRODUCT_TARGETS ${name})
endfunction()

# kavo_check_pe_format(<check-target> TARGETS <targets>...): fails the build
# when an object of the given libraries or executables is not of this
# build's PE format (pe-i386 objects and pei-i386 images for the shipped
# 32-bit program).
function(kavo_check_pe_format check_target)
  cmake_parse_arguments(PE "" "" "TARGETS" ${ARGN})
  set(files)
  foreach(t IN LISTS PE_TARGETS)
    list(APPEND files $<TARGET_FILE:${t}>)
  endforeach()
  add_custom_target(${check_target} ALL
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DOBJECT_FORMAT=${KAVO_PE_FORMAT}
            -DIMAGE_FORMAT=${KAVO_PE_IMAGE_FORMAT} "-DFILES=${files}"
            -P ${CMAKE_SOURCE_DIR}/cmake/check_pe_format.cmake
    DEPENDS ${PE_TARGETS}
    COMMENT "Checking the PE format of ${PE_TARGETS}"
    VERBATIM)
endfunction()
