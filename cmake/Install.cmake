# SPDX-License-Identifier: GPL-3.0-or-later
# Where an installed copy puts its files (FHS, Debian policy), and the Debian package.
include(GNUInstallDirs)

set(TULVEX_APP_ID org.example.tulvex)
set(TULVEX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tulvex)

install(TARGETS tulvex tulvex-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The window looks beside itself first, then here relative to its prefix.
install(FILES ${TULVEX_LANGUAGE_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/tulvex/lang)

install(FILES resources/desktop/${TULVEX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/desktop/${TULVEX_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES resources/icons/${TULVEX_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES resources/icons/hicolor/${size}x${size}/${TULVEX_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

# Manual pages and the changelog compressed as Debian wants them: gzip -9, no name or time
# inside, so that two builds give the same bytes.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(TULVEX_GZIPPED_DIR ${CMAKE_BINARY_DIR}/gzipped)
set(TULVEX_GZIPPED)
foreach(source resources/man/tulvex.1 resources/man/tulvex-cli.1 resources/debian/changelog)
  get_filename_component(name ${source} NAME)
  set(output ${TULVEX_GZIPPED_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TULVEX_GZIPPED_DIR}
    COMMAND sh -c "${GZIP_PROGRAM} -9nc \"$0\" > \"$1\"" ${CMAKE_SOURCE_DIR}/${source} ${output}
    DEPENDS ${CMAKE_SOURCE_DIR}/${source}
    VERBATIM)
  list(APPEND TULVEX_GZIPPED ${output})
endforeach()
add_custom_target(gzipped_docs ALL DEPENDS ${TULVEX_GZIPPED})
install(FILES ${TULVEX_GZIPPED_DIR}/tulvex.1.gz ${TULVEX_GZIPPED_DIR}/tulvex-cli.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TULVEX_GZIPPED_DIR}/changelog.gz resources/debian/copyright README.md DESTINATION ${TULVEX_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tulvex)
set(CPACK_PACKAGE_VENDOR Varlo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tulvex maintainers <maintainers@tulvex.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "photo browser that turns JPEG photos without loss")
set(CPACK_PACKAGE_DESCRIPTION
    "Tulvex shows every JPEG photo of a folder, optionally with its subfolders,\n\
as a grid of thumbnails. It turns the selected photos left, right or by 180\n\
degrees without recompressing them, brings their EXIF orientation in line and\n\
can give the files back their timestamps. It also shows decoded EXIF\n\
properties, moves photos to the desktop trash and keeps favorite folders, in\n\
English, German, Spanish and French.\n\
.\n\
The command-line program tulvex-cli does the same photo work without a window.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The toolkit's own texts (standard buttons, file dialogs) in the chosen language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://tulvex.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window opens photos and the web site with xdg-open; the libraries come from shlibdeps,
# libxxhash0 (the checks of the undo records) among them, which tests/package checks.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
