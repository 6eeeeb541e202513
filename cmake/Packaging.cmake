# The Debian package of both programs (cpack -G DEB, or scripts/package): the programs, their
# man pages and bash completion, the desktop entry, icon and AppStream metainfo, and the
# metadata template, installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cardwright)
set(CPACK_PACKAGE_VENDOR "Cardwright")
set(CPACK_PACKAGE_CONTACT "Cardwright developers <cardwright@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "copies camera cards into a verified, backed-up photo archive")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME cardwright)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # cardwright_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The long description under the summary line; cpack indents it and marks the empty lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Cardwright takes the photos and videos off camera cards and files them into
your archive, named and sorted by capture date, camera, client and project,
with a second copy on a backup drive. Every copy is read back and checked
before a card is called safe to format.

It ingests several cards at once or each card as it is inserted, writes
creator, copyright and keywords into XMP sidecars, keeps a record of every
card and run per client and project, corrects camera clocks and adds GPS
positions from a track log.

The package holds the desktop program (cardwright-gui) and the command-line
program (cardwright).")
# Libraries come from the programs' links (dpkg-shlibdeps). The rest are opened at run time: Qt's
# platform plugins that open a window and SVG reader that draws the icon, the PostgreSQL
# client library a server catalogue is reached through, and the system bus library that asks
# the desktop's disk manager for names and ejects.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, libpq5, libsystemd0")
# ExifTool writes camera-clock corrections and GPS positions into images; the camera and disc
# libraries are opened when a camera or a disc is first used (without them the rest works and
# those say what is missing); gpsbabel reads GPS receivers; xdg-open shows folders and files in
# the desktop's own programs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libimage-exiftool-perl, libgphoto2-6, libburn4, libisofs6")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gpsbabel, xdg-utils")

include(CPack)
