# Install rules: the daemon with its service unit, and the common library
# for other programs of the product (its headers and one static library).
#
#   <prefix>/sbin/nodekeeper
#   <prefix>/lib/systemd/system/nodekeeper.service
#   <prefix>/<docdir>/README.md              (the unit's documentation link)
#   <prefix>/<includedir>/Ruvo_Common/*.h    (library and container headers)
#   <prefix>/<libdir>/libruvo_common.a       (packet_codec, packet_stream_io,
#                                             uds_packet_server)
include(GNUInstallDirs)

if(TARGET nodekeeper)
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
    foreach(dir IN ITEMS nk_sbindir nk_docdir)
      if(NOT IS_ABSOLUTE "${${dir}}")
        set(${dir} "${CMAKE_INSTALL_PREFIX}/${${dir}}")
      endif()
    endforeach()
    file(READ "${nk_unit_source}" unit)
    string(REPLACE "/usr/sbin/nodekeeper" "${nk_sbindir}/nodekeeper" unit "${unit}")
    string(REPLACE "/usr/share/doc/nodekeeper/" "${nk_docdir}/" unit "${unit}")
    file(WRITE "${nk_unit_built}" "${unit}")
  ]])
  install(FILES ${nk_unit_built} DESTINATION lib/systemd/system)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

# The common library as one static library of its object modules.
add_library(ruvo_common STATIC $<TARGET_OBJECTS:ruvo_log> $<TARGET_OBJECTS:packet_codec> $<TARGET_OBJECTS:packet_stream_io>)
if(TARGET uds_packet_server)
  target_sources(ruvo_common PRIVATE $<TARGET_OBJECTS:uds_packet_server>)
endif()
set_target_properties(ruvo_common PROPERTIES LINKER_LANGUAGE CXX)
target_include_directories(ruvo_common INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/Ruvo_Common/include>
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/Ruvo_Common/Util/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/Ruvo_Common>)
target_link_libraries(ruvo_common INTERFACE Threads::Threads)
install(TARGETS ruvo_common ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

file(GLOB ruvo_common_headers CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/Ruvo_Common/include/*.h
  ${PROJECT_SOURCE_DIR}/Ruvo_Common/Util/include/*.h)
install(FILES ${ruvo_common_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/Ruvo_Common)
