# `make deb` (cpack -G DEB): one package with both programs. Its
# dependencies are read off the binaries by dpkg-shlibdeps: the command line
# needs no Qt and no display, the desktop program brings Qt and libjpeg.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The mirel developers")
set(CPACK_PACKAGE_CONTACT ${MIREL_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find deleted files on FAT and NTFS volumes and bring them back")
set(CPACK_PACKAGE_DESCRIPTION
  "mirel finds deleted files and folders on FAT12, FAT16, FAT32 and NTFS
volumes (block devices and their image files), rebuilds what it can of the
folder tree, says how intact each file still is and recovers the files with
their names, sizes and times. It only reads the volume it scans; a file it
calls complete is byte for byte what the volume holds.

This package holds the desktop program mirel-gui and the command line mirel,
which runs without a display, for rescue systems and scripts.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://mirel.example.org/)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
