# Signing: a throw-away self-signed code-signing certificate, made with
# openssl when the build tree is new, signs one installer; its unsigned twin
# is built from the same inputs for comparison.
find_program(KAVO_OPENSSL openssl REQUIRED)
set(signing_dir ${CMAKE_CURRENT_BINARY_DIR}/signing)
set(signing_cert ${signing_dir}/cert.pem)
set(signing_key ${signing_dir}/key.pem)
add_custom_command(OUTPUT ${signing_cert} ${signing_key}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${signing_dir}
  COMMAND ${KAVO_OPENSSL} genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048
          -out ${signing_key}
  COMMAND ${KAVO_OPENSSL} req -x509 -key ${signing_key} -days 3650
          -subj "/CN=KavoOrvane Test Signing" -addext extendedKeyUsage=codeSigning
          -out ${signing_cert}
  COMMENT "Making a throw-away code-signing certificate"
  VERBATIM)
add_custom_target(signing_test_certificate DEPENDS ${signing_cert} ${signing_key})

# Any file serves as the archive: setup_double does not read it.
set(signing_archive ${CMAKE_CURRENT_LIST_DIR}/plain_loader.cpp)
kavo_add_installer(signing_installer OBJECTS kavo_installer_objects
                   ARCHIVE ${signing_archive} SETUP $<TARGET_FILE:setup_double>
                   SIGN_CERT ${signing_cert} SIGN_KEY ${signing_key}
                   DEPENDS setup_double signing_test_certificate)
kavo_add_installer(signing_installer_unsigned OBJECTS kavo_installer_objects
                   ARCHIVE ${signing_archive} SETUP $<TARGET_FILE:setup_double>
                   DEPENDS setup_double)

# The signature, checked on the Linux side where osslsigncode runs.
add_test(NAME signing_verifies
  COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${KAVO_OSSLSIGNCODE} -DCA=${signing_cert}
          -DSIGNED=$<TARGET_FILE:signing_installer>
          -DUNSIGNED=$<TARGET_FILE:signing_installer_unsigned>
          -P ${CMAKE_CURRENT_LIST_DIR}/signing_verify.cmake)

# The signed installer under Wine: same resources, still installs.
kavo_add_test(signing_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/signing_test.cpp
  DEPENDS signing_installer signing_installer_unsigned setup_double)
