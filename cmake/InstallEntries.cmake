# Writes the systemd unit and the desktop entry for the prefix being
# installed to. Set before: VELKON_SOURCE_DIR, VELKON_BINARY_DIR,
# VELKON_BINDIR and VELKON_DATADIR (as given at configure time).

set(bindir "${VELKON_BINDIR}")
if(NOT IS_ABSOLUTE "${bindir}")
    set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
endif()

# systemd: a quoted path keeps blanks; backslash and quote are escaped, and
# % would start a specifier.
function(velkon_unit_quote out path)
    string(REPLACE "\\" "\\\\" path "${path}")
    string(REPLACE "\"" "\\\"" path "${path}")
    string(REPLACE "%" "%%" path "${path}")
    set(${out} "\"${path}\"" PARENT_SCOPE)
endfunction()

# Desktop entries: Exec arguments are quoted with ", `, $ and \ escaped
# inside, and % would start a field code; the file format then doubles
# every backslash again.
function(velkon_entry_quote out path)
    string(REPLACE "\\" "\\\\" path "${path}")
    foreach(c "\"" "`" "$")
        string(REPLACE "${c}" "\\${c}" path "${path}")
    endforeach()
    string(REPLACE "%" "%%" path "${path}")
    string(REPLACE "\\" "\\\\" path "${path}")
    set(${out} "\"${path}\"" PARENT_SCOPE)
endfunction()

set(CMAKE_INSTALL_FULL_BINDIR "${bindir}")
velkon_unit_quote(VELKON_UNIT_EXEC "${bindir}/velkon-headless")
velkon_unit_quote(VELKON_UNIT_COMMAND "${bindir}/velkon")
velkon_entry_quote(VELKON_ENTRY_EXEC "${bindir}/velkon")

# One staging folder per prefix: installs to two prefixes may run at once.
string(MD5 stage "${CMAKE_INSTALL_PREFIX}")
set(stage "${VELKON_BINARY_DIR}/install-stage/${stage}")
configure_file("${VELKON_SOURCE_DIR}/resources/velkon-headless.service.in"
               "${stage}/velkon-headless.service" @ONLY)
configure_file("${VELKON_SOURCE_DIR}/resources/velkon.desktop.in"
               "${stage}/velkon.desktop" @ONLY)
file(INSTALL "${stage}/velkon-headless.service"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
file(INSTALL "${stage}/velkon.desktop"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/${VELKON_DATADIR}/applications")
