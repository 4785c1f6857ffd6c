# The .deb's control fields and maintainer scripts, beside the CPack settings of the top
# CMakeLists.txt (included just before CPack).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sigrok-cli")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PULSARA_HOMEPAGE}")
# Lines under 80 columns, as the control file shows them.
set(CPACK_PACKAGE_DESCRIPTION
    "pulsara drives the Varion 32-probe USB logic analyser board (EZ-USB
AN21xx): it loads the board's firmware, sets the sample rate and the
trigger, reads the 32768 samples and shows them as named traces and
hexadecimal buses. An analysis window zooms, measures and decodes protocols
with sigrok's decoders. pulsara-cli does the same from a shell. A simulated
board runs the real firmware on an emulated chip, so both work without
hardware.")
# postinst and postrm reload the udev rules; dpkg wants them mode 0755.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
