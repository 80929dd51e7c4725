# Build-time half of packaging: writes the payload .rc, with the archive's
# MD5 taken from the archive as it is now.
#   -DOUT=<rc> [-DARCHIVE=<file>] [-DSETUP=<file> -DSETUP_TYPE=BL|BN -DSETUP_NAME=<name>]
#   [-DPATCH=<file> -DPATCH_NAME=<name>] [-DDIGEST=<text for string 130>]
set(text "// Generated at build time: the installer's payload.\n")
string(APPEND text "LANGUAGE 9, 1\n")
if(ARCHIVE)
  if(NOT EXISTS "${ARCHIVE}")
    message(FATAL_ERROR "The archive ${ARCHIVE} does not exist")
  endif()
  if(DEFINED DIGEST)
    # A deliberate override: a package that must fail its own check.
    set(digest "${DIGEST}")
  else()
    file(MD5 "${ARCHIVE}" digest)
    string(TOLOWER "${digest}" digest)
  endif()
  string(APPEND text "ORVANE.PACKED.7Z B7 \"${ARCHIVE}\"\n")
endif()
if(SETUP)
  string(APPEND text "${SETUP_NAME} ${SETUP_TYPE} \"${SETUP}\"\n")
endif()
if(PATCH)
  string(APPEND text "${PATCH_NAME} B7 \"${PATCH}\"\n")
endif()
if(ARCHIVE)
  string(APPEND text "STRINGTABLE\nBEGIN\n  130 \"${digest}\"\nEND\n")
endif()
# Always rewritten, so that windres runs again whenever an input changed.
file(WRITE "${OUT}" "${text}")
