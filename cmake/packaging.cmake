# The release files, built by `make package` (tools/package.sh) with CPack:
#   build/win32  -> tavimore-VERSION-win32.zip  (the programs, tavimore.dll with its header and
#                   import library, the WIC codec DLLs of both bitnesses, GIMP 3's plug-in with
#                   its 64-bit tavimore.dll, README.txt, LICENSE.txt, CHANGELOG.txt)
#   build/native -> tavimore_VERSION_amd64.deb  (/usr/bin, manual pages, completion, /usr/share/doc,
#                   the gdk-pixbuf loader, the MIME type and the thumbnailer entry)
#                   libtavimore1_VERSION_amd64.deb     (libtavimore.so.1)
#                   libtavimore-dev_VERSION_amd64.deb  (tavimore.h, libtavimore.so, tavimore.pc)
#                   gimp-tavimore_VERSION_amd64.deb    (GIMP 2.10's G00 file plug-in)
#                   gimp3-tavimore_VERSION_amd64.deb   (GIMP 3's, for Debian 13 and Ubuntu)
#                   python3-tavimore_VERSION_all.deb   (the Python module and Pillow plug-in)
# Every file in them carries the time of SOURCE_DATE_EPOCH.
set(TAVIMORE_SUMMARY "G00 image converter to BMP, layered PSD and PNG, and back")

set(TAVIMORE_DEB_library libtavimore1)
set(TAVIMORE_DEB_development libtavimore-dev)
# The GIMP plug-ins have packages of their own, so that the converter does not bring GIMP's
# libraries to machines without GIMP; GIMP 2.10's and GIMP 3's never share a system.
set(TAVIMORE_DEB_gimp gimp-tavimore)
set(TAVIMORE_DEB_gimp3 gimp3-tavimore)
set(TAVIMORE_DEB_python python3-tavimore)
if(WIN32)
  # Texts for Notepad: CRLF lines, and a byte order mark where there is more than ASCII.
  set(texts ${CMAKE_BINARY_DIR}/texts)
  string(ASCII 239 187 191 byte_order_mark)
  configure_file(docs/README-windows.txt ${texts}/README.txt @ONLY NEWLINE_STYLE CRLF)
  # libdeflate, linked into the converter and the library, asks that its notice go with them.
  file(READ LICENSE licence)
  if(TAVIMORE_LIBDEFLATE)
    file(READ ${TAVIMORE_LIBDEFLATE_PREFIX}/COPYING libdeflate_licence)
    string(APPEND licence "\ntavimore-cli.exe and tavimore.dll contain libdeflate, under this licence:\n\n"
           "${libdeflate_licence}")
  endif()
  file(CONFIGURE OUTPUT ${texts}/LICENSE.txt CONTENT "${licence}" @ONLY NEWLINE_STYLE CRLF)
  file(READ CHANGELOG.md changelog)
  file(CONFIGURE OUTPUT ${texts}/CHANGELOG.txt CONTENT "${byte_order_mark}${changelog}"
       NEWLINE_STYLE CRLF)
  install(FILES ${texts}/README.txt ${texts}/LICENSE.txt ${texts}/CHANGELOG.txt DESTINATION .)
  # The 64-bit WIC codec, for Explorer, comes from the win64 preset's tree (tools/package.sh
  # builds it first); the 32-bit one is this tree's own.
  set(TAVIMORE_WIC_X64 "" CACHE FILEPATH "tavimore-wic-x64.dll of the win64 build, for the zip")
  if(TAVIMORE_WIC_X64)
    install(FILES ${TAVIMORE_WIC_X64} DESTINATION .)
  endif()
else()
  # The licence and the changelog in the places and forms Debian's tools look for.
  file(READ LICENSE licence)
  # The programs contain libdeflate (linked statically), whose licence asks for its notice.
  set(libdeflate_copyright /usr/share/doc/libdeflate-dev/copyright)
  if(TAVIMORE_LIBDEFLATE AND EXISTS ${libdeflate_copyright})
    file(READ ${libdeflate_copyright} libdeflate_licence)
    string(APPEND licence "\nThe programs contain libdeflate, under these terms:\n\n${libdeflate_licence}")
  endif()
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/doc/copyright CONTENT "Tavimore\n\n${licence}" @ONLY)
  # The packages need the changelog; a build of the programs alone does without Python.
  if(TAVIMORE_TESTS)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
  else()
    find_package(Python3 COMPONENTS Interpreter)
  endif()
  set(changelog)
  if(Python3_FOUND)
    set(changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
    add_custom_command(OUTPUT ${changelog}
      COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/debian-changelog.py
              ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${TAVIMORE_CONTACT} ${changelog}
      DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/tools/debian-changelog.py
      COMMENT "Debian changelog from CHANGELOG.md" VERBATIM)
    add_custom_target(tavimore-changelog DEPENDS ${changelog})
    add_dependencies(tavimore-release tavimore-changelog)
  endif()
  install(FILES README.md ${CMAKE_BINARY_DIR}/doc/copyright ${changelog}
          DESTINATION ${TAVIMORE_DOC_DIR})
  # The command-line programs are linked statically on purpose (see cli/CMakeLists.txt). Only the
  # package holds this note for Debian's checker; `cmake --install` leaves it out.
  install(FILES cmake/debian/tavimore.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME tavimore COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES cmake/debian/libtavimore1.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME libtavimore1 COMPONENT library_debian EXCLUDE_FROM_ALL)
  # The library's packages carry the same two files under their own names.
  foreach(component library development gimp gimp3 python)
    set(package ${TAVIMORE_DEB_${component}})
    install(FILES ${CMAKE_BINARY_DIR}/doc/copyright ${changelog}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
            COMPONENT ${component}_debian EXCLUDE_FROM_ALL)
  endforeach()
  set(CPACK_COMPONENTS_ALL Unspecified debian library library_debian development development_debian)
  if(TARGET file-g00)
    list(APPEND CPACK_COMPONENTS_ALL gimp gimp_debian)
  endif()
  list(APPEND CPACK_COMPONENTS_ALL gimp3 gimp3_debian python python_debian)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
  foreach(component Unspecified debian)
    string(TOUPPER ${component} component)
    set(CPACK_COMPONENT_${component}_GROUP tavimore)
  endforeach()
  foreach(component library development gimp gimp3 python)
    string(TOUPPER ${component} upper)
    set(CPACK_COMPONENT_${upper}_GROUP ${TAVIMORE_DEB_${component}})
    set(CPACK_COMPONENT_${upper}_DEBIAN_GROUP ${TAVIMORE_DEB_${component}})
  endforeach()
endif()

set(CPACK_PACKAGE_NAME tavimore)
set(CPACK_PACKAGE_VENDOR ${TAVIMORE_MAKER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each Debian package's description starts with its own summary line (below); CPack would put
# this one before every package's.
if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${TAVIMORE_SUMMARY})
endif()
set(CPACK_PACKAGE_HOMEPAGE_URL ${TAVIMORE_HOMEPAGE})
set(CPACK_PACKAGE_CONTACT ${TAVIMORE_CONTACT})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  # CPack's own zip writer takes the folder's order and the builder's user; this one sorts the
  # entries and records neither owners nor extra times.
  set(CPACK_GENERATOR External)
  set(CPACK_PACKAGE_FILE_NAME tavimore-${PROJECT_VERSION}-win32)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_MONOLITHIC_INSTALL ON)  # one folder, the library's files beside the programs
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/write_zip.cmake)
  set(CPACK_TAVIMORE_ZIP_WRITER ${PROJECT_SOURCE_DIR}/tools/write-zip.py)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  get_property(programs GLOBAL PROPERTY TAVIMORE_PROGRAMS)
  list(JOIN programs ", " programs)
  string(CONCAT about
      "Tavimore converts G00 images, the pictures of a game format, into files\n"
      "that ordinary editors open: full-frame pictures become 24-bit BMP,\n"
      "region-based pictures with transparency become a layered PSD that keeps\n"
      "the transparency, and any picture can become PNG. Edited PNG, BMP and PSD\n"
      "pictures go back into G00 files, fresh or like the game's own.\n")
  # The plug-ins hold the library's code (gdk-pixbuf/, gimp/): dpkg-shlibdeps gives their
  # packages Debian's libraries alone.
  string(CONCAT CPACK_DEBIAN_TAVIMORE_DESCRIPTION "${TAVIMORE_SUMMARY}\n" ${about}
      "The programs of this package: ${programs}.\n"
      "Its gdk-pixbuf loader shows G00 files in GTK image viewers, and their\n"
      "thumbnails in file managers.")
  set(CPACK_DEBIAN_TAVIMORE_PACKAGE_NAME tavimore)
  set(CPACK_DEBIAN_LIBTAVIMORE1_PACKAGE_NAME libtavimore1)
  set(CPACK_DEBIAN_LIBTAVIMORE1_PACKAGE_SECTION libs)
  string(CONCAT CPACK_DEBIAN_LIBTAVIMORE1_DESCRIPTION "G00 image library (shared library)\n" ${about}
      "This package holds the shared library that other programs call to read\n"
      "and write G00 images.")
  set(CPACK_DEBIAN_LIBTAVIMORE1_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/cmake/debian/libtavimore1/triggers)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_LIBTAVIMORE-DEV_PACKAGE_NAME libtavimore-dev)
  set(CPACK_DEBIAN_LIBTAVIMORE-DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_LIBTAVIMORE-DEV_PACKAGE_DEPENDS "libtavimore1 (= ${PROJECT_VERSION})")
  string(CONCAT CPACK_DEBIAN_LIBTAVIMORE-DEV_DESCRIPTION "G00 image library (development files)\n"
      ${about} "This package holds the C header tavimore.h and the pkg-config file\n"
      "for building programs against libtavimore.")
  set(CPACK_DEBIAN_GIMP-TAVIMORE_PACKAGE_NAME gimp-tavimore)
  set(CPACK_DEBIAN_GIMP-TAVIMORE_PACKAGE_ENHANCES gimp)
  string(CONCAT CPACK_DEBIAN_GIMP-TAVIMORE_DESCRIPTION "G00 image plug-in for GIMP 2.10\n" ${about}
      "This package holds GIMP 2.10's G00 file plug-in: a region-based picture opens\n"
      "with a layer per region, and is exported back like the original file.")
  # Python over the library, in the multiarch folder where Debian's GIMP 3 looks for plug-ins.
  set(CPACK_DEBIAN_GIMP3-TAVIMORE_PACKAGE_NAME gimp3-tavimore)
  set(CPACK_DEBIAN_GIMP3-TAVIMORE_PACKAGE_DEPENDS
      "libtavimore1 (= ${PROJECT_VERSION}), gimp (>= 3.0), gir1.2-gimp-3.0, python3, python3-gi")
  set(CPACK_DEBIAN_GIMP3-TAVIMORE_PACKAGE_ENHANCES gimp)
  string(CONCAT CPACK_DEBIAN_GIMP3-TAVIMORE_DESCRIPTION "G00 image plug-in for GIMP 3\n" ${about}
      "This package holds GIMP 3's G00 file plug-in: a region-based picture opens\n"
      "with a layer per region, and is exported back like the original file.")
  set(CPACK_DEBIAN_PYTHON3-TAVIMORE_PACKAGE_NAME python3-tavimore)
  set(CPACK_DEBIAN_PYTHON3-TAVIMORE_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON3-TAVIMORE_PACKAGE_ARCHITECTURE all)
  set(CPACK_DEBIAN_PYTHON3-TAVIMORE_PACKAGE_DEPENDS "libtavimore1 (>= ${PROJECT_VERSION}), python3")
  set(CPACK_DEBIAN_PYTHON3-TAVIMORE_PACKAGE_RECOMMENDS python3-pil)
  string(CONCAT CPACK_DEBIAN_PYTHON3-TAVIMORE_DESCRIPTION "G00 image module for Python 3\n" ${about}
      "This package holds the Python module tavimore, over the C library, and\n"
      "its Pillow plug-in, with which Image.open reads G00 files.")
endif()
include(CPack)
