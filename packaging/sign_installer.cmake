# cmake -DOSSLSIGNCODE=<osslsigncode> -DCERT=<pem> -DKEY=<pem> -DFILE=<exe>
#       -P sign_installer.cmake
# Authenticode-signs FILE in place (SHA-256). When signing fails, FILE is
# removed: an unsigned installer must not stay behind looking finished.
file(REMOVE ${FILE}.signed)
execute_process(
  COMMAND ${OSSLSIGNCODE} sign -certs ${CERT} -key ${KEY} -h sha256 -n KavoOrvane
          -in ${FILE} -out ${FILE}.signed
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE ${FILE} ${FILE}.signed)
  message(FATAL_ERROR "Signing ${FILE} failed (${result}):\n${output}")
endif()
file(RENAME ${FILE}.signed ${FILE})
