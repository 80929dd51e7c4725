# Writes a stand-in archive of KIB kibibytes whose bytes vary, at build time.
set(block "")
foreach(i RANGE 0 63)
  string(APPEND block "${i}-stand-in-archive:")
endforeach()
string(SUBSTRING "${block}" 0 1023 block)
string(APPEND block "\n")
string(REPEAT "${block}" ${KIB} text)
file(WRITE "${OUT}" "${text}")
