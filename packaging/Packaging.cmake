# Assembling an installer: an executable (or a resource-only module for
# tests) that carries the payload as resources.
#
#   kavo_add_installer(<target>
#       OBJECTS <object library>      objects with the entry point (wWinMain)
#       ARCHIVE <file>                -> "B7" "ORVANE.PACKED.7Z", string 130 = its MD5
#       [SETUP <file>]                the setup program; compressed with
#                                     `gcab -c -z` into "BL" "SETUP.EX_" ...
#       [SETUP_STORED]                ... or stored uncompressed as "BN" "SETUP.EXE"
#       [SETUP_NAME <name>]           resource name of the setup program instead
#                                     (must begin with "setup")
#       [SETUP_PATCH <file>]          -> "B7" "SETUP.PATCH", a patch for the
#                                     installed setup program
#       [SETUP_PATCH_NAME <name>]     its resource name instead (begins with "setup")
#       [DIGEST <text>]               string 130 instead of the archive's MD5:
#                                     only for packages that must fail their
#                                     own check (the demo, tests)
#       [EXTRA_RC <rc files>...]      compiled into the same executable; the
#                                     folder of each is on windres' include path
#       [SIGN_CERT <pem> SIGN_KEY <pem>]  Authenticode-signs the linked
#                                     executable in place (osslsigncode, SHA-256,
#                                     no time stamp); a failed signing removes
#                                     the unsigned file. A generated certificate
#                                     or key needs its target in DEPENDS.
#       [LIBS <libraries>...]         linked as well
#       [DEPENDS <targets>...])       built first (for generated inputs)
#   The executable is a GUI-subsystem program linked with -municode,
#   --gc-sections and -s.
#
#   kavo_add_payload_module(<target> [ARCHIVE <file>] [SETUP <file>] ...)
#       The same payload (every argument optional, no OBJECTS/LIBS) in a
#       resource-only <target>.dll, for loading with LoadLibraryW.
#
# An installer needs ARCHIVE and one of SETUP and SETUP_PATCH, unless an
# EXTRA_RC brings those resources itself (layouts made by hand for tests).
# Files may be build outputs: generator expressions are accepted (a whole
# $<TARGET_FILE:tgt> also makes tgt a dependency; other generated files need
# DEPENDS or a custom command OUTPUT of the same folder), and relative paths
# are taken from the current source folder. The archive's MD5 is computed at build time, after
# the archive exists, and again whenever it changes. windres upper-cases the
# resource names. All payload resources are in language 1033.

set(KAVO_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
find_program(KAVO_GCAB gcab)
find_program(KAVO_OSSLSIGNCODE osslsigncode)

# Also records a target named by $<TARGET_FILE:...> in _kavo_input_targets
# (of the caller), so that it is built before the payload.
function(_kavo_absolute_input out path)
  if(path MATCHES "^\\$<TARGET_FILE:([^>]+)>$")
    set(_kavo_input_targets ${_kavo_input_targets} ${CMAKE_MATCH_1} PARENT_SCOPE)
  endif()
  if(path MATCHES "^\\$<" OR IS_ABSOLUTE "${path}")
    set(${out} "${path}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_CURRENT_SOURCE_DIR}/${path}" PARENT_SCOPE)
  endif()
endfunction()

function(_kavo_check_setup_name name)
  string(TOLOWER "${name}" lower)
  if(NOT lower MATCHES "^setup")
    message(FATAL_ERROR "Payload resource name ${name} must begin with \"setup\"")
  endif()
  if(NOT name MATCHES "^[A-Za-z0-9._]+$")
    message(FATAL_ERROR "Payload resource name ${name}: use letters, digits, '.' and '_'")
  endif()
endfunction()

# Writes the rules for <target>'s payload; <out_rc> receives the .rc to
# compile into it.
function(_kavo_payload_rules target out_rc)
  cmake_parse_arguments(P "SETUP_STORED" "ARCHIVE;SETUP;SETUP_NAME;SETUP_PATCH;SETUP_PATCH_NAME;DIGEST"
                        "DEPENDS" ${ARGN})
  set(_kavo_input_targets)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}.payload)
  set(rc ${dir}/payload.rc)
  set(inputs ${KAVO_PACKAGING_DIR}/write_payload_rc.cmake)
  set(args -DOUT=${rc})

  if(P_ARCHIVE)
    _kavo_absolute_input(archive "${P_ARCHIVE}")
    list(APPEND P_DEPENDS ${_kavo_input_targets})
    list(APPEND inputs "${archive}")
    list(APPEND args "-DARCHIVE=${archive}")
  endif()
  if(DEFINED P_DIGEST)
    list(APPEND args "-DDIGEST=${P_DIGEST}")
  endif()

  if(P_SETUP)
    _kavo_absolute_input(setup "${P_SETUP}")
    list(APPEND P_DEPENDS ${_kavo_input_targets})
    if(P_SETUP_STORED)
      set(type BN)
      set(name SETUP.EXE)
      set(file "${setup}")
    else()
      set(type BL)
      set(name SETUP.EX_)
      set(file ${dir}/SETUP.EX_)
      if(NOT KAVO_GCAB)
        message(FATAL_ERROR "gcab is needed to compress the setup program (apt-get install gcab)")
      endif()
      # The cabinet holds one file named setup.exe, MSZIP-compressed.
      add_custom_command(OUTPUT ${file}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}/cabinet
        COMMAND ${CMAKE_COMMAND} -E copy "${setup}" ${dir}/cabinet/setup.exe
        # A fixed time stamp: the same setup program gives the same cabinet.
        COMMAND touch -d "2026-01-01 00:00:00" ${dir}/cabinet/setup.exe
        COMMAND ${KAVO_GCAB} -c -z -n ${file} ${dir}/cabinet/setup.exe
        DEPENDS "${setup}" ${P_DEPENDS}
        COMMENT "Compressing the setup program of ${target}"
        VERBATIM)
    endif()
    if(P_SETUP_NAME)
      _kavo_check_setup_name(${P_SETUP_NAME})
      set(name ${P_SETUP_NAME})
    endif()
    list(APPEND inputs "${file}")
    list(APPEND args "-DSETUP=${file}" -DSETUP_TYPE=${type} -DSETUP_NAME=${name})
  elseif(P_SETUP_STORED OR P_SETUP_NAME)
    message(FATAL_ERROR "${target}: SETUP_STORED and SETUP_NAME need SETUP")
  endif()

  if(P_SETUP_PATCH)
    _kavo_absolute_input(patch "${P_SETUP_PATCH}")
    list(APPEND P_DEPENDS ${_kavo_input_targets})
    set(patch_name SETUP.PATCH)
    if(P_SETUP_PATCH_NAME)
      _kavo_check_setup_name(${P_SETUP_PATCH_NAME})
      set(patch_name ${P_SETUP_PATCH_NAME})
    endif()
    list(APPEND inputs "${patch}")
    list(APPEND args "-DPATCH=${patch}" -DPATCH_NAME=${patch_name})
  endif()

  if(NOT P_ARCHIVE AND NOT P_SETUP AND NOT P_SETUP_PATCH)
    set(${out_rc} "" PARENT_SCOPE)  # only the caller's own .rc files
    return()
  endif()
  add_custom_command(OUTPUT ${rc}
    COMMAND ${CMAKE_COMMAND} ${args} -P ${KAVO_PACKAGING_DIR}/write_payload_rc.cmake
    DEPENDS ${inputs} ${P_DEPENDS}
    COMMENT "Writing the payload resources of ${target}"
    VERBATIM)
  set(${out_rc} ${rc} PARENT_SCOPE)
endfunction()

function(_kavo_add_extra_rc target)
  foreach(extra IN LISTS ARGN)
    _kavo_absolute_input(path "${extra}")
    get_filename_component(folder "${path}" DIRECTORY)
    target_sources(${target} PRIVATE "${path}")
    # Files named in the .rc (icons, manifests) are found next to it.
    target_include_directories(${target} PRIVATE "${folder}")
  endforeach()
endfunction()

function(kavo_add_installer target)
  cmake_parse_arguments(I "SETUP_STORED"
                        "OBJECTS;ARCHIVE;SETUP;SETUP_NAME;SETUP_PATCH;SETUP_PATCH_NAME;DIGEST;SIGN_CERT;SIGN_KEY"
                        "EXTRA_RC;LIBS;DEPENDS" ${ARGN})
  if(NOT I_OBJECTS)
    message(FATAL_ERROR "kavo_add_installer(${target}): OBJECTS is required")
  endif()
  if(NOT I_ARCHIVE AND NOT I_EXTRA_RC)
    message(FATAL_ERROR "kavo_add_installer(${target}): give ARCHIVE")
  endif()
  if(NOT I_SETUP AND NOT I_SETUP_PATCH AND NOT I_EXTRA_RC)
    message(FATAL_ERROR "kavo_add_installer(${target}): give SETUP or SETUP_PATCH")
  endif()
  set(forward)
  foreach(key ARCHIVE SETUP SETUP_NAME SETUP_PATCH SETUP_PATCH_NAME DIGEST)
    if(DEFINED I_${key})
      list(APPEND forward ${key} ${I_${key}})
    endif()
  endforeach()
  if(I_SETUP_STORED)
    list(APPEND forward SETUP_STORED)
  endif()
  _kavo_payload_rules(${target} rc ${forward} DEPENDS ${I_DEPENDS})

  add_executable(${target} WIN32 ${rc})
  _kavo_add_extra_rc(${target} ${I_EXTRA_RC})
  set_target_properties(${target} PROPERTIES LINKER_LANGUAGE CXX)
  # Linking the object library directly puts its objects into the program.
  target_link_libraries(${target} PRIVATE ${I_OBJECTS} ${I_LIBS})
  # The shipped program: unused sections dropped, symbols stripped.
  # Sections aligned to pages in the file as in memory: the loader can then
  # map the payload straight from the file instead of reading it into a copy.
  target_link_options(${target} PRIVATE -municode -flto -Wl,--gc-sections -s -Wl,--dynamicbase -Wl,--nxcompat $<$<EQUAL:${CMAKE_SIZEOF_VOID_P},8>:-Wl,--high-entropy-va> -Wl,--file-alignment,0x1000)
  if(I_DEPENDS)
    add_dependencies(${target} ${I_DEPENDS})
  endif()
  if(I_SIGN_CERT OR I_SIGN_KEY)
    _kavo_sign_rules(${target} "${I_SIGN_CERT}" "${I_SIGN_KEY}")
  endif()
endfunction()

# Signs <target>'s executable right after each link.
function(_kavo_sign_rules target cert key)
  if(NOT cert OR NOT key)
    message(FATAL_ERROR "kavo_add_installer(${target}): SIGN_CERT and SIGN_KEY go together")
  endif()
  if(NOT KAVO_OSSLSIGNCODE)
    message(FATAL_ERROR "osslsigncode is needed to sign ${target} (apt-get install osslsigncode)")
  endif()
  _kavo_absolute_input(cert_path "${cert}")
  _kavo_absolute_input(key_path "${key}")
  # A new certificate or key links (and so signs) again.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${cert_path}" "${key_path}")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${KAVO_OSSLSIGNCODE} "-DCERT=${cert_path}"
            "-DKEY=${key_path}" -DFILE=$<TARGET_FILE:${target}>
            -P ${KAVO_PACKAGING_DIR}/sign_installer.cmake
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()

function(kavo_add_payload_module target)
  cmake_parse_arguments(M "SETUP_STORED" "ARCHIVE;SETUP;SETUP_NAME;SETUP_PATCH;SETUP_PATCH_NAME;DIGEST"
                        "EXTRA_RC;DEPENDS" ${ARGN})
  set(forward)
  foreach(key ARCHIVE SETUP SETUP_NAME SETUP_PATCH SETUP_PATCH_NAME DIGEST)
    if(DEFINED M_${key})
      list(APPEND forward ${key} ${M_${key}})
    endif()
  endforeach()
  if(M_SETUP_STORED)
    list(APPEND forward SETUP_STORED)
  endif()
  _kavo_payload_rules(${target} rc ${forward} DEPENDS ${M_DEPENDS})

  add_library(${target} MODULE ${rc})
  _kavo_add_extra_rc(${target} ${M_EXTRA_RC})
  # Resources only; the toolchain's default DLL start-up is its only code.
  set_target_properties(${target} PROPERTIES PREFIX "" LINKER_LANGUAGE C)
  if(M_DEPENDS)
    add_dependencies(${target} ${M_DEPENDS})
  endif()
endfunction()
