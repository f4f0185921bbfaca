# Installation and the Debian package.  Programs are installed when their
# targets exist (a Qt-free build installs only the tools).
include(GNUInstallDirs)

foreach(prog vVantrelBus vantrel-dump vantrel-sim)
  if(TARGET ${prog})
    install(TARGETS ${prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

set(_data ${PROJECT_SOURCE_DIR}/data)
if(TARGET vVantrelBus)
  install(FILES ${_data}/org.example.vVantrelBus.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_data}/org.example.vVantrelBus.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${_data}/icons/vvantrelbus-48.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME vvantrelbus.png)
  install(FILES ${_data}/icons/vvantrelbus-128.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps RENAME vvantrelbus.png)
  install(FILES ${_data}/icons/vvantrelbus.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
# Man pages go in compressed, as Debian keeps them; -n leaves out the time
# stamp so that equal sources give equal files.
find_program(VANTREL_GZIP gzip REQUIRED)
set(_pages)
foreach(page vVantrelBus vantrel-dump vantrel-sim)
  if(TARGET ${page})
    set(_gz ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${_gz}
                       COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
                       COMMAND ${VANTREL_GZIP} -9n -c ${_data}/man/${page}.1 > ${_gz}
                       DEPENDS ${_data}/man/${page}.1 VERBATIM)
    list(APPEND _pages ${_gz})
    install(FILES ${_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${_pages})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vvantrelbus)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "vVantrelBus developers <dev@vvantrelbus.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Listen-only monitor for a model-railway central's serial bus")
# CPack puts the summary first and indents these lines itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vVantrelBus shows the bus devices, the central's status and a log;\nvantrel-dump monitors from a terminal and vantrel-sim simulates a central.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
