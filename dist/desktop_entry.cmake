# Install step: writes clinic.desktop for the folder being installed into.
# CLINIC_DESKTOP_TEMPLATE is set by the install code in front of this
# script.
set(dir "${CMAKE_INSTALL_PREFIX}")

# String values of a desktop entry escape the backslash.
string(REPLACE "\\" "\\\\" CLINIC_DIR "${dir}")
set(CLINIC_ICON "${CLINIC_DIR}/clinic.png")
# Exec is one quoted argument: inside the quotes \ " ` $ take a backslash,
# % is doubled, and the result is escaped again as a string value.
set(exec "${dir}/clinic")
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "\"" "\\\"" exec "${exec}")
string(REPLACE "`" "\\`" exec "${exec}")
string(REPLACE "$" "\\$" exec "${exec}")
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "\\" "\\\\" CLINIC_EXEC "${exec}")

# Written straight into the folder: two installs at once into different
# folders share no file on the way.
set(entry "$ENV{DESTDIR}${dir}/clinic.desktop")
message(STATUS "Installing: ${entry}")
configure_file("${CLINIC_DESKTOP_TEMPLATE}" "${entry}" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")
