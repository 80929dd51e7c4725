# cmake -DBUILD_DIR=<i686 build tree> -P check_i686_build.cmake
# The shipped build: every product library holds pe-i386 objects, and every
# program in bin/ is a PE32 image (pei-i386). The shipped program and the
# bare stub are GUI programs that import Windows system DLLs only and carry
# the executable's own resources; the shipped program also its payload.
cmake_minimum_required(VERSION 3.20)
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

set(failures "")
macro(fail text)
  list(APPEND failures "${text}")
endmacro()

# The DLLs a Windows installation always has, in upper case.
set(system_dlls KERNEL32.DLL USER32.DLL ADVAPI32.DLL SHELL32.DLL SHLWAPI.DLL OLE32.DLL
    OLEAUT32.DLL MSVCRT.DLL)

# Reads <count> bytes at <rva> of the image as lower-case hex into <out>.
function(read_rva out image rva count)
  math(EXPR offset "${rva} - ${rsrc_rva} + ${rsrc_file_offset}")
  file(READ ${image} hex OFFSET ${offset} LIMIT ${count} HEX)
  set(${out} ${hex} PARENT_SCOPE)
endfunction()

# Little-endian 16-bit number at byte <index> of a hex string.
function(hex_u16 out hex index)
  math(EXPR at "${index} * 2")
  math(EXPR at_high "${at} + 2")
  string(SUBSTRING ${hex} ${at} 2 low)
  string(SUBSTRING ${hex} ${at_high} 2 high)
  math(EXPR value "0x${high}${low}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# Loads the header facts and the resource tree of <image> into variables
# of the caller: subsystem, dlls, rsrc_rva, rsrc_file_offset, rsrc_raw_size,
# file_size, and for every leaf "R|<type>|<name>|<language>" = "<rva>;<size>"
# (ids and languages in decimal), with the list resource_leaves.
macro(load_image image)
  foreach(leaf IN LISTS resource_leaves)
    unset("R|${leaf}")
  endforeach()
  execute_process(COMMAND ${OBJDUMP} -p ${image} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objdump -p failed on ${image}")
  endif()
  execute_process(COMMAND ${OBJDUMP} -h ${image} OUTPUT_VARIABLE headers)
  file(SIZE ${image} file_size)

  string(REGEX MATCH "\nSubsystem[ \t]+([0-9a-fA-F]+)" _ "${dump}")
  set(subsystem "${CMAKE_MATCH_1}")
  string(REGEX MATCH "\nImageBase[ \t]+([0-9a-fA-F]+)" _ "${dump}")
  set(image_base "0x${CMAKE_MATCH_1}")
  string(REGEX MATCH "\nFileAlignment[ \t]+([0-9a-fA-F]+)" _ "${dump}")
  set(file_alignment "0x${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "DLL Name: [^\n]+" dll_lines "${dump}")
  set(dlls "")
  foreach(line IN LISTS dll_lines)
    string(REGEX REPLACE "DLL Name: *" "" name "${line}")
    string(STRIP "${name}" name)
    list(APPEND dlls "${name}")
  endforeach()

  string(REGEX MATCH "\\.rsrc +([0-9a-f]+) +([0-9a-f]+) +[0-9a-f]+ +([0-9a-f]+)" _ "${headers}")
  if(NOT CMAKE_MATCH_0)
    message(FATAL_ERROR "${image}: no .rsrc section")
  endif()
  math(EXPR rsrc_size "0x${CMAKE_MATCH_1}")
  math(EXPR rsrc_rva "0x${CMAKE_MATCH_2} - ${image_base}")
  math(EXPR rsrc_file_offset "0x${CMAKE_MATCH_3}")
  math(EXPR rsrc_raw_size
       "(${rsrc_size} + ${file_alignment} - 1) / ${file_alignment} * ${file_alignment}")

  # The listing indents each level of the tree by one more blank after the
  # offset: type entries 3, name entries 5, language entries 7, leaves 8.
  string(FIND "${dump}" "The .rsrc Resource Directory section:" start)
  if(start LESS 0)
    message(FATAL_ERROR "${image}: no resource directory listing")
  endif()
  string(SUBSTRING "${dump}" ${start} -1 listing)
  string(REPLACE "\n" ";" listing_lines "${listing}")
  set(resource_leaves "")
  foreach(line IN LISTS listing_lines)
    if(line MATCHES "^[0-9a-f]+( +)(Entry|Leaf): (.*)$")
      string(LENGTH "${CMAKE_MATCH_1}" level)
      set(kind ${CMAKE_MATCH_2})
      set(rest "${CMAKE_MATCH_3}")
      if(kind STREQUAL "Entry")
        if(rest MATCHES "^name: \\[[^]]*\\]: ([^,]+),")
          set(key "${CMAKE_MATCH_1}")
        elseif(rest MATCHES "^ID: (0x[0-9a-f]+),")
          math(EXPR key "${CMAKE_MATCH_1}")
        else()
          message(FATAL_ERROR "${image}: unreadable resource entry: ${line}")
        endif()
        if(level EQUAL 3)
          set(r_type "${key}")
        elseif(level EQUAL 5)
          set(r_name "${key}")
        elseif(level EQUAL 7)
          set(r_lang "${key}")
        endif()
      elseif(rest MATCHES "^Addr: (0x[0-9a-f]+), Size: (0x[0-9a-f]+)")
        math(EXPR leaf_rva "${CMAKE_MATCH_1}")
        math(EXPR leaf_size "${CMAKE_MATCH_2}")
        set("R|${r_type}|${r_name}|${r_lang}" "${leaf_rva};${leaf_size}")
        list(APPEND resource_leaves "${r_type}|${r_name}|${r_lang}")
      endif()
    endif()
  endforeach()
endmacro()

# <out> = size of the resource, or empty when it is absent.
macro(resource_size out type name lang)
  set(${out} "")
  if(DEFINED "R|${type}|${name}|${lang}")
    list(GET "R|${type}|${name}|${lang}" 1 ${out})
  endif()
endmacro()

# Checks that every image shares: GUI subsystem, system DLLs only, and the
# executable's own resources (manifest, version block, icon group 107 with
# seven images in language 2052, RCDATA 101 of 128 bytes in 1033 and 2052).
macro(check_common image label)
  load_image(${image})
  if(NOT subsystem STREQUAL "00000002")
    fail("${label}: subsystem ${subsystem}, expected 2 (Windows GUI)")
  endif()
  if(NOT dlls)
    fail("${label}: no DLL imports found")
  endif()
  foreach(dll IN LISTS dlls)
    string(TOUPPER "${dll}" upper)
    if(NOT upper IN_LIST system_dlls)
      fail("${label}: imports ${dll}, which is not a Windows system DLL")
    endif()
  endforeach()

  # The manifest (RT_MANIFEST 24, id 1).
  set(manifest_key "")
  foreach(leaf IN LISTS resource_leaves)
    if(leaf MATCHES "^24\\|1\\|")
      set(manifest_key "${leaf}")
    endif()
  endforeach()
  if(NOT manifest_key)
    fail("${label}: no application manifest")
  else()
    list(GET "R|${manifest_key}" 0 manifest_rva)
    list(GET "R|${manifest_key}" 1 manifest_size)
    math(EXPR manifest_offset "${manifest_rva} - ${rsrc_rva} + ${rsrc_file_offset}")
    file(READ ${image} manifest OFFSET ${manifest_offset} LIMIT ${manifest_size})
    foreach(needle
        "level=\"asInvoker\"" "uiAccess=\"false\""
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}"   # Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"   # 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"   # 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}")  # 8.1
      string(FIND "${manifest}" "${needle}" found)
      if(found LESS 0)
        fail("${label}: the manifest lacks ${needle}")
      endif()
    endforeach()
  endif()

  resource_size(version_size 16 1 1033)
  if(NOT version_size)
    fail("${label}: no version block (RT_VERSION 1, language 1033)")
  endif()

  # Icon group 107 (RT_GROUP_ICON 14): a GRPICONDIR whose seven entries name
  # RT_ICON (3) images of the same language.
  resource_size(group_size 14 107 2052)
  if(NOT group_size)
    fail("${label}: no icon group 107 in language 2052")
  else()
    list(GET "R|14|107|2052" 0 group_rva)
    read_rva(group ${image} ${group_rva} ${group_size})
    hex_u16(group_type ${group} 2)
    hex_u16(group_count ${group} 4)
    math(EXPR expected_size "6 + 14 * ${group_count}")
    if(NOT group_type EQUAL 1 OR NOT group_count EQUAL 7 OR NOT group_size EQUAL expected_size)
      fail("${label}: icon group 107 holds ${group_count} images (type ${group_type}), expected 7")
    else()
      foreach(i RANGE 0 6)
        math(EXPR id_at "6 + 14 * ${i} + 12")
        hex_u16(icon_id ${group} ${id_at})
        resource_size(icon_size 3 ${icon_id} 2052)
        if(NOT icon_size)
          fail("${label}: icon group 107 names image ${icon_id}, absent in language 2052")
        endif()
      endforeach()
    endif()
  endif()

  foreach(lang 1033 2052)
    resource_size(data_size 10 101 ${lang})
    if(NOT data_size STREQUAL "128")
      fail("${label}: RCDATA 101 in language ${lang} has size '${data_size}', expected 128")
    endif()
  endforeach()
endmacro()

# The shipped program: also the payload, and string 130 holding the MD5 of
# the archive that it carries.
set(setup_exe ${BUILD_DIR}/bin/KavoOrvaneSetup.exe)
set(stub_exe ${BUILD_DIR}/bin/kavo_stub.exe)
set(demo_archive ${BUILD_DIR}/packaging/demo/ORVANE.PACKED.7Z)
foreach(required ${setup_exe} ${stub_exe} ${demo_archive})
  if(NOT EXISTS ${required})
    message(FATAL_ERROR "${required} is missing: build KavoOrvaneSetup and kavo_stub for i686")
  endif()
endforeach()

check_common(${stub_exe} kavo_stub.exe)
math(EXPR stub_without_rsrc "${file_size} - ${rsrc_raw_size}")
message(STATUS "kavo_stub.exe: ${file_size} bytes, ${stub_without_rsrc} without .rsrc "
               "(${rsrc_raw_size} bytes of resources)")

check_common(${setup_exe} KavoOrvaneSetup.exe)
message(STATUS "KavoOrvaneSetup.exe: ${file_size} bytes with the demo payload")

resource_size(archive_size B7 ORVANE.PACKED.7Z 1033)
file(SIZE ${demo_archive} expected_archive_size)
if(NOT archive_size STREQUAL expected_archive_size)
  fail("KavoOrvaneSetup.exe: \"B7\" \"ORVANE.PACKED.7Z\" has size '${archive_size}', "
       "the archive ${expected_archive_size}")
endif()

resource_size(cabinet_size BL SETUP.EX_ 1033)
if(NOT cabinet_size)
  fail("KavoOrvaneSetup.exe: no \"BL\" \"SETUP.EX_\"")
else()
  list(GET "R|BL|SETUP.EX_|1033" 0 cabinet_rva)
  read_rva(signature ${setup_exe} ${cabinet_rva} 4)
  if(NOT signature STREQUAL "4d534346")  # "MSCF"
    fail("KavoOrvaneSetup.exe: \"SETUP.EX_\" is not a cabinet (starts with ${signature})")
  endif()
endif()

# String 130 is the third entry of block 9 (strings 128 to 143); each entry
# is a 16-bit length followed by that many UTF-16 units.
resource_size(block_size 6 9 1033)
if(NOT block_size)
  fail("KavoOrvaneSetup.exe: no string block 9 (strings 128-143)")
else()
  list(GET "R|6|9|1033" 0 block_rva)
  read_rva(block ${setup_exe} ${block_rva} ${block_size})
  set(at 0)
  foreach(skip 128 129)
    hex_u16(units ${block} ${at})
    math(EXPR at "${at} + 2 + 2 * ${units}")
  endforeach()
  hex_u16(units ${block} ${at})
  set(text "")
  if(units GREATER 0)
    math(EXPR last "${units} - 1")
    foreach(i RANGE 0 ${last})
      math(EXPR unit_at "${at} + 2 + 2 * ${i}")
      math(EXPR hex_at "${unit_at} * 2")
      string(SUBSTRING ${block} ${hex_at} 4 unit)
      string(SUBSTRING ${unit} 2 2 high)
      if(NOT high STREQUAL "00")
        set(unit "3f00")  # not ASCII: cannot be a digest character
      endif()
      string(SUBSTRING ${unit} 0 2 low)
      math(EXPR code "0x${low}")
      string(ASCII ${code} char)
      string(APPEND text "${char}")
    endforeach()
  endif()
  file(MD5 ${demo_archive} expected_digest)
  if(NOT text STREQUAL expected_digest)
    fail("KavoOrvaneSetup.exe: string 130 is '${text}', the archive's MD5 ${expected_digest}")
  endif()
endif()

if(failures)
  string(REPLACE ";" "\n  " listed "${failures}")
  message(FATAL_ERROR "the i686 programs fail their checks:\n  ${listed}")
endif()
message(STATUS "KavoOrvaneSetup.exe and kavo_stub.exe: GUI subsystem, system DLLs only, "
               "resources in place")
