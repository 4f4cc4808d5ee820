# Debian package of the daemon and the common library (CPack, generator
# DEB): whatever the install rules put under the install prefix, laid out
# under /usr. The package's architecture follows the build's target, so the
# cross build (preset deb-arm64) makes the arm64 package.
#
#   cmake --preset deb && cmake --build --preset deb && cpack --preset deb
#
# scripts/package-test builds the package and checks what it installs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nodekeeper)
set(CPACK_PACKAGE_VENDOR "Narel")
set(CPACK_PACKAGE_CONTACT "Narel node software <nodekeeper@narel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Narel node card management daemon and the Ruvo_Common library")
set(CPACK_PACKAGE_DESCRIPTION
    "nodekeeper reports the node's description, address, serial number and temperature to the chassis BMC over I2C and carries out the BMC's network commands. Includes the headers and static library of Ruvo_Common, the packet protocol library.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
else()
  message(WARNING "packaging: no Debian architecture known for ${CMAKE_SYSTEM_PROCESSOR}")
endif()

# dpkg-shlibdeps knows the build machine's libraries only; a cross-built
# package names the libraries the daemon links (C and C++ runtime) itself.
if(CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 11)")
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
# The daemon edits the netplan file and runs these programs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "netplan.io, lsb-release, systemd")

# Enable and start the service on installation, stop it on removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/../packaging/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/../packaging/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/../packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
