# The Debian package, built by `cpack -G DEB` from a build configured with
# CMAKE_INSTALL_PREFIX=/usr (scripts/package.sh does both).

# The package carries the version that the program prints in its banner.
file(STRINGS ${PROJECT_SOURCE_DIR}/app/vokisp.cpp vok_banner REGEX "Ver\\.[0-9]+\\.[0-9]+")
string(REGEX MATCH "[0-9]+\\.[0-9]+" VOK_VERSION "${vok_banner}")
if(NOT VOK_VERSION)
  message(FATAL_ERROR "no version found in the banner of app/vokisp.cpp")
endif()

set(VOK_PACKAGE_MAINTAINER "vokusb developers <vokusb@example.org>"
    CACHE STRING "the Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vokusb)
set(CPACK_PACKAGE_VERSION ${VOK_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VOK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "load Spartan-II FPGAs from .bit files through JTAG and serial cables")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vokusb loads a configuration bitstream from a Xilinx .bit file into a
Spartan-II FPGA (XC2S15 to XC2S200), over JTAG or in slave-serial mode,
through a cable driver chosen by name: three EZ-USB boards (AN2131/AN2135),
whose firmware the driver downloads, and the Xilinx and Altera parallel-port
download cables.

The package also holds vokbench, a simulation of the cables, the boards and
the FPGAs, on which vokusb and other JTAG tools run without hardware.

USB boards are opened by members of the plugdev group (the package's udev
rule gives them the boards); parallel ports through ppdev by members of the
lp group. Add a user with 'adduser USER plugdev' or 'adduser USER lp' and log
in again.")
# The post-install script applies the udev rule to boards already plugged in; it
# also keeps CPack from writing one that runs ldconfig, which the private driver
# folder does not need (scripts/package.sh drops the matching post-removal script).
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
