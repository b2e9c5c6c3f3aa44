# Where an installed torvel-tools puts its files (GNUInstallDirs, any prefix),
# and the Debian package CPack builds from them (scripts/package.sh).
include(GNUInstallDirs)

set(TORVEL_DATA ${CMAKE_SOURCE_DIR}/data)
set(TORVEL_PACKAGE torvel-tools)
if(NOT TORVEL_GUI)
  set(TORVEL_PACKAGE torvel-tools-headless)  # torvel only, no Qt
endif()
set(TORVEL_DOC ${CMAKE_INSTALL_DATADIR}/doc/${TORVEL_PACKAGE})

install(TARGETS torvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TORVEL_DATA}/torvel.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME torvel)
install(FILES ${TORVEL_DATA}/torvel.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
install(FILES ${TORVEL_DATA}/torvel-tools.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${TORVEL_DATA}/debian/copyright DESTINATION ${TORVEL_DOC})

# Man page and changelog compressed, as Debian wants them.
find_program(TORVEL_GZIP gzip REQUIRED)
set(TORVEL_PACKED ${CMAKE_BINARY_DIR}/packed)
add_custom_command(
  OUTPUT ${TORVEL_PACKED}/torvel.1.gz ${TORVEL_PACKED}/torvel-tools.1.gz ${TORVEL_PACKED}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TORVEL_PACKED}
  COMMAND ${TORVEL_GZIP} -9n -c ${TORVEL_DATA}/torvel.1 > ${TORVEL_PACKED}/torvel.1.gz
  COMMAND ${TORVEL_GZIP} -9n -c ${TORVEL_DATA}/torvel-tools.1 > ${TORVEL_PACKED}/torvel-tools.1.gz
  COMMAND ${TORVEL_GZIP} -9n -c ${TORVEL_DATA}/debian/changelog > ${TORVEL_PACKED}/changelog.gz
  DEPENDS ${TORVEL_DATA}/torvel.1 ${TORVEL_DATA}/torvel-tools.1 ${TORVEL_DATA}/debian/changelog)
add_custom_target(torvel_packed_docs ALL DEPENDS ${TORVEL_PACKED}/torvel.1.gz ${TORVEL_PACKED}/changelog.gz)
install(FILES ${TORVEL_PACKED}/torvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TORVEL_PACKED}/changelog.gz DESTINATION ${TORVEL_DOC})

if(TORVEL_GUI)
  install(TARGETS torvel-tools RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${TORVEL_PACKED}/torvel-tools.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${TORVEL_DATA}/torvel-tools.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${TORVEL_DATA}/io.github.torveltools.TorvelTools.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 24 32 48 64 128 256)
    install(FILES ${TORVEL_DATA}/icons/${size}x${size}/torvel-tools.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${TORVEL_DATA}/icons/torvel-tools.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The Debian package: dependencies from the libraries the programs link.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TORVEL_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Torvel Tools developers <dev@torveltools.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert, crop, resize, split and merge images larger than memory")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Torvel Tools streams raster images far larger than memory (gigapixel\n"
    "panoramas, scans and mosaics of many GB) with a few MB of memory: TIFF\n"
    "and BigTIFF, PSB and PSD, PNG, JPEG, KRO and headerless RAW. It writes\n"
    "compact and pyramidal TIFFs and zoomable tile pyramids with a viewer page.\n"
    "This package has the torvel command, its file-manager thumbnailer and,\n"
    "unless headless, the torvel-tools window.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://torveltools.example/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
    WORLD_READ WORLD_EXECUTE)
include(CPack)
