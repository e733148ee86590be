# Makes ROOT/<test>/tmp and ROOT/<test>/run for each of TESTS, readable by this user alone
# (a runtime folder must be). A ROOT that is a link is refused: /tmp is shared.
if(IS_SYMLINK "${ROOT}")
    message(FATAL_ERROR "${ROOT} is a link; remove it")
endif()
file(MAKE_DIRECTORY "${ROOT}")
file(CHMOD "${ROOT}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
foreach(test IN LISTS TESTS)
    file(MAKE_DIRECTORY "${ROOT}/${test}/tmp" "${ROOT}/${test}/run")
    file(CHMOD "${ROOT}/${test}" "${ROOT}/${test}/tmp" "${ROOT}/${test}/run"
         DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()
