# Install rules: the daemon with its service unit, and the common library
# for other programs of the product (its headers and one static library).
#
#   <prefix>/sbin/nodekeeper
#   <prefix>/lib/systemd/system/nodekeeper.service
#   <prefix>/<docdir>/README.md              (the unit's documentation link)
#   <prefix>/<includedir>/Ruvo_Common/*.h    (library and container headers)
#   <prefix>/<libdir>/libruvo_common.a       (packet_codec, packet_stream_io,
#                                             uds_packet_server)
#   <prefix>/<libdir>/cmake/Ruvo_Common/     (Ruvo_CommonConfig.cmake,
#                                             ...ConfigVersion.cmake,
#                                             ...Targets*.cmake)
#   <prefix>/<libdir>/pkgconfig/ruvo_common.pc
include(GNUInstallDirs)

# Files that name installed folders are written at install time, when the
# prefix is known (a package build installs under its own prefix).
install(CODE [[
  # Makes the install folder in variable var absolute under the prefix.
  function(nk_make_install_path_absolute var)
    if(NOT IS_ABSOLUTE "${${var}}")
      set(${var} "${CMAKE_INSTALL_PREFIX}/${${var}}" PARENT_SCOPE)
    endif()
  endfunction()
]])

install(TARGETS nodekeeper RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})

# The unit names the daemon and its documentation by their installed
# paths. The prefix is only known at install time (a package build installs
# under its own prefix), so the unit is written then; with the prefix /usr
# it is packaging/nodekeeper.service unchanged.
set(nk_unit_built ${PROJECT_BINARY_DIR}/packaging/nodekeeper.service)
install(CODE "
  set(nk_unit_source [[${PROJECT_SOURCE_DIR}/packaging/nodekeeper.service]])
  set(nk_unit_built [[${nk_unit_built}]])
  set(nk_sbindir [[${CMAKE_INSTALL_SBINDIR}]])
  set(nk_docdir [[${CMAKE_INSTALL_DOCDIR}]])")
install(CODE [[
  nk_make_install_path_absolute(nk_sbindir)
  nk_make_install_path_absolute(nk_docdir)
  file(READ "${nk_unit_source}" unit)
  string(REPLACE "/usr/sbin/nodekeeper" "${nk_sbindir}/nodekeeper" unit "${unit}")
  string(REPLACE "/usr/share/doc/nodekeeper/" "${nk_docdir}/" unit "${unit}")
  file(WRITE "${nk_unit_built}" "${unit}")
]])
install(FILES ${nk_unit_built} DESTINATION lib/systemd/system)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The common library (target ruvo_common of Ruvo_Common/CMakeLists.txt):
# the archive, its public headers, and two ways for other programs to find
# them: the CMake package (find_package(Ruvo_Common), target
# Ruvo_Common::ruvo_common; relocatable) and the pkg-config module
# ruvo_common.
set(ruvo_common_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Ruvo_Common)
install(TARGETS ruvo_common EXPORT Ruvo_CommonTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(FILES
  ${PROJECT_SOURCE_DIR}/Ruvo_Common/include/BMC_data_protocol.h
  ${PROJECT_SOURCE_DIR}/Ruvo_Common/include/BMC_data_protocol_read_write.h
  ${PROJECT_SOURCE_DIR}/Ruvo_Common/include/UDS_BMC_packet_thread.h
  ${PROJECT_SOURCE_DIR}/Ruvo_Common/Util/include/container_common.h
  ${PROJECT_SOURCE_DIR}/Ruvo_Common/Util/include/list.h
  ${PROJECT_SOURCE_DIR}/Ruvo_Common/Util/include/list_impl.h
  ${PROJECT_SOURCE_DIR}/Ruvo_Common/Util/include/queue.h
  ${PROJECT_SOURCE_DIR}/Ruvo_Common/Util/include/queue_impl.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Ruvo_Common)

include(CMakePackageConfigHelpers)
install(EXPORT Ruvo_CommonTargets NAMESPACE Ruvo_Common:: DESTINATION ${ruvo_common_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/Ruvo_CommonConfig.cmake.in
  ${PROJECT_BINARY_DIR}/Ruvo_CommonConfig.cmake
  INSTALL_DESTINATION ${ruvo_common_cmake_dir})
# The library's version is the product's; a new major version may break
# its callers.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/Ruvo_CommonConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/Ruvo_CommonConfig.cmake ${PROJECT_BINARY_DIR}/Ruvo_CommonConfigVersion.cmake
  DESTINATION ${ruvo_common_cmake_dir})

# The pkg-config file names absolute folders: written at install time.
set(ruvo_common_pc_built ${PROJECT_BINARY_DIR}/ruvo_common.pc)
install(CODE "
  set(rc_pc_source [[${CMAKE_CURRENT_LIST_DIR}/ruvo_common.pc.in]])
  set(rc_pc_built [[${ruvo_common_pc_built}]])
  set(rc_libdir [[${CMAKE_INSTALL_LIBDIR}]])
  set(rc_includedir [[${CMAKE_INSTALL_INCLUDEDIR}]])
  set(rc_version [[${PROJECT_VERSION}]])")
install(CODE [[
  nk_make_install_path_absolute(rc_libdir)
  nk_make_install_path_absolute(rc_includedir)
  configure_file("${rc_pc_source}" "${rc_pc_built}" @ONLY)
]])
install(FILES ${ruvo_common_pc_built} DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
