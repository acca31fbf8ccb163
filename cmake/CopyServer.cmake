# SPDX-License-Identifier: MIT
# Copies the backend server's run-time files (not its tests) into the bundle.
file(MAKE_DIRECTORY "${DESTINATION}")
file(COPY "${SOURCE}/desktop.js" DESTINATION "${DESTINATION}")
foreach(folder lib public)
  if(IS_DIRECTORY "${SOURCE}/${folder}")
    file(COPY "${SOURCE}/${folder}" DESTINATION "${DESTINATION}")
  endif()
endforeach()
