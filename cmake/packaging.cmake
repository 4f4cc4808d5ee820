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
# Lines of at most 80 characters, as Debian's control files want them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "nodekeeper reports the node's description, address, serial number and
temperature to the chassis BMC over I2C and carries out the BMC's network
commands. Includes the headers and static library of Ruvo_Common, the
packet protocol library.")
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

# Manual pages, copyright file and Debian changelog, compressed without a
# time stamp (gzip -n) so that two builds give the same bytes. The manual
# pages' .TH lines get the project's version (@PROJECT_VERSION@); the
# changelog carries it literally, as Debian's format wants (package-test and
# the test version_documents compare it with the project's).
find_program(NODEKEEPER_GZIP gzip REQUIRED)
set(nk_docs_built ${PROJECT_BINARY_DIR}/packaging)
set(nk_docs "")
foreach(doc IN ITEMS nodekeeper.8 ruvo-packet-client.1 ruvo-packet-server.1 debian/changelog)
  get_filename_component(nk_doc_name ${doc} NAME)
  if(nk_doc_name STREQUAL "changelog")
    set(nk_doc_name changelog.Debian)
    set(nk_doc_source ${PROJECT_SOURCE_DIR}/packaging/${doc})
  else()
    set(nk_doc_source ${nk_docs_built}/${nk_doc_name})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/${doc} ${nk_doc_source} @ONLY)
  endif()
  add_custom_command(OUTPUT ${nk_docs_built}/${nk_doc_name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${nk_docs_built}
    COMMAND ${NODEKEEPER_GZIP} -9nc ${nk_doc_source} > ${nk_docs_built}/${nk_doc_name}.gz
    DEPENDS ${nk_doc_source}
    VERBATIM)
  list(APPEND nk_docs ${nk_docs_built}/${nk_doc_name}.gz)
endforeach()
add_custom_target(nodekeeper_docs ALL DEPENDS ${nk_docs})
install(FILES ${nk_docs_built}/nodekeeper.8.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES ${nk_docs_built}/ruvo-packet-client.1.gz ${nk_docs_built}/ruvo-packet-server.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${nk_docs_built}/changelog.Debian.gz ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Tags that do not apply to this package, each with its reason in the file.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME nodekeeper)

# Folders of the package that nothing is installed into (/etc/netplan).
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/package-folders.cmake)

# Enable and start the service on installation, stop it on removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/../packaging/debian/postinst
    ${CMAKE_CURRENT_LIST_DIR}/../packaging/debian/prerm
    ${CMAKE_CURRENT_LIST_DIR}/../packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
