# cmake -DOSSLSIGNCODE=<exe> -DCA=<cert.pem> -DSIGNED=<exe> -DUNSIGNED=<exe>
#       -P signing_verify.cmake
# The signed installer verifies against the test certificate as its root;
# the unsigned twin does not (so a verification that passes means something).
execute_process(COMMAND ${OSSLSIGNCODE} verify -in ${SIGNED} -CAfile ${CA}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output MATCHES "Signature verification: ok")
  message(FATAL_ERROR "${SIGNED} does not verify (${result}):\n${output}")
endif()
if(NOT output MATCHES "Subject: /CN=KavoOrvane Test Signing")
  message(FATAL_ERROR "${SIGNED} is not signed by the test certificate:\n${output}")
endif()
execute_process(COMMAND ${OSSLSIGNCODE} verify -in ${UNSIGNED} -CAfile ${CA}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(result EQUAL 0)
  message(FATAL_ERROR "${UNSIGNED} verifies although it was never signed:\n${output}")
endif()
message(STATUS "signed installer verifies; unsigned twin is refused")
