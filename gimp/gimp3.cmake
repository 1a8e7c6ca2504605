# GIMP 3's G00 file plug-in: file-g00.py, Python over the library through the tavimore module,
# which lies beside it, in a folder of its name as GIMP 3 wants. Nothing to build: one file runs
# wherever GIMP 3 runs (its Python has GObject introspection on Linux and Windows alike).
set(module ${PROJECT_SOURCE_DIR}/python/tavimore/__init__.py)
if(WIN32)
  # The zip's gimp\file-g00 folder, with a 64-bit tavimore.dll (GIMP 3 for Windows is 64-bit),
  # from the win64 preset's tree (tools/package.sh builds it first).
  set(TAVIMORE_LIBRARY_X64 "" CACHE FILEPATH "tavimore.dll of the win64 build, for GIMP 3's plug-in in the zip")
  if(TAVIMORE_LIBRARY_X64)
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/file-g00.py ${TAVIMORE_LIBRARY_X64} DESTINATION gimp/file-g00)
    install(FILES ${module} DESTINATION gimp/file-g00/tavimore)
  endif()
  return()
endif()

# GIMP 3's plug-in folder below the installation's prefix: the one of this system's GIMP 3 where
# its development files say (gimp-3.0.pc), else Debian's and Ubuntu's, lib/<multiarch>/gimp/3.0.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(GIMP3_PC QUIET gimp-3.0)
endif()
if(GIMP3_PC_FOUND)
  pkg_get_variable(gimp3_libdir gimp-3.0 gimplibdir)
  string(REGEX REPLACE "^/usr/" "" gimp3_libdir ${gimp3_libdir})
else()
  set(gimp3_libdir ${CMAKE_INSTALL_LIBDIR}/gimp/3.0)
endif()
set(destination ${gimp3_libdir}/plug-ins/file-g00)
install(PROGRAMS ${CMAKE_CURRENT_LIST_DIR}/file-g00.py DESTINATION ${destination} COMPONENT gimp3)
install(FILES ${module} DESTINATION ${destination}/tavimore COMPONENT gimp3)
# The library installed beside, as a link relative to where it lies, so that the module finds it
# under any prefix with no library path set (in the Debian package, libtavimore1's).
file(RELATIVE_PATH library /${destination} /${CMAKE_INSTALL_LIBDIR}/libtavimore.so.1)
file(CREATE_LINK ${library} ${CMAKE_CURRENT_BINARY_DIR}/libtavimore.so.1 SYMBOLIC)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/libtavimore.so.1 DESTINATION ${destination} COMPONENT gimp3)

# The folder as installed, in the build tree with a link to its library: what the tests run, and
# what a profile's plug-in folder takes (cp -rL).
set(TAVIMORE_GIMP3_FOLDER ${CMAKE_BINARY_DIR}/gimp3/file-g00)
set(folder ${TAVIMORE_GIMP3_FOLDER})
add_custom_command(OUTPUT ${folder}/file-g00.py ${folder}/tavimore/__init__.py
  COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/tavimore
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/file-g00.py ${folder}/file-g00.py
  COMMAND ${CMAKE_COMMAND} -E copy ${module} ${folder}/tavimore/__init__.py
  COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:tavimore_shared>
          ${folder}/$<TARGET_SONAME_FILE_NAME:tavimore_shared>
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/file-g00.py ${module} tavimore_shared
  COMMENT "GIMP 3's plug-in folder" VERBATIM)
add_custom_target(file-g00-gimp3 ALL DEPENDS ${folder}/file-g00.py ${folder}/tavimore/__init__.py)
