# The Debian package, made from the install rules by CPack:
#   cmake --build --preset release --target package
# gives build/release/zelk_VERSION_ARCH.deb with the four programs in
# /usr/bin, their man pages, and README, the format description, the
# changelog and the copyright file in /usr/share/doc/zelk. Its Depends are
# worked out by dpkg-shlibdeps from the programs themselves.

# Debian wants man pages and the changelog compressed, without a time stamp.
set(ZELK_PACKAGE_DIR ${PROJECT_BINARY_DIR}/package)
configure_file(package/changelog.in ${ZELK_PACKAGE_DIR}/changelog @ONLY)
set(ZELK_GZIPPED ${ZELK_PACKAGE_DIR}/changelog.gz)
add_custom_command(OUTPUT ${ZELK_PACKAGE_DIR}/changelog.gz
                   COMMAND gzip -9nkf changelog
                   DEPENDS ${ZELK_PACKAGE_DIR}/changelog
                   WORKING_DIRECTORY ${ZELK_PACKAGE_DIR} VERBATIM)
foreach(page ${ZELK_MAN_PAGES})
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man/${page}.1.gz
                     COMMAND gzip -9nkf ${page}.1
                     DEPENDS ${PROJECT_BINARY_DIR}/man/${page}.1
                     WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/man VERBATIM)
  list(APPEND ZELK_GZIPPED ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${ZELK_GZIPPED})
add_dependencies(compressed_docs zelkimport_man_page)  # made once, then compressed

install(FILES README.md doc/format.md package/copyright ${ZELK_PACKAGE_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# zelkpress is linked statically on purpose (it starts once per chunk): said
# to lintian, which asks about every static program.
install(FILES package/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME zelk)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelk)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "zelk maintainers <maintainers@users.noreply.c-seed-6fcb0ea7.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dictionary databases for a handheld dictionary reader")
# The extended description, below the summary (CPack indents its lines).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "zelkpack turns a text dictionary (one entry a line: key, a tab, value) into
one database file of type Dict that the reader takes from its memory or a
memory card; zelkpress compresses its chunks. zelkdump reads a database
back: information, lookups, extraction, verification and a web page to
search it. zelkimport turns dictd, StarDict, tab, CSV, Wiktionary, DSL and
XDXF dictionaries into a database in one command.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Only some commands use these: forms from a Hunspell dictionary, and dictd
# dictionaries to import.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "hunspell-en-us | hunspell-dictionary, dict-wn | dictd-dictionary")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
