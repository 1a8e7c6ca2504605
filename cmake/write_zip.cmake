# CPack's External step for Windows: the staged files become tavimore-VERSION-win32.zip, under
# a folder of that name.
find_program(python python3 REQUIRED)
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  message(FATAL_ERROR "SOURCE_DATE_EPOCH gives the files' time (tools/package.sh sets it)")
endif()
set(zip ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip)
execute_process(COMMAND ${python} ${CPACK_TAVIMORE_ZIP_WRITER} ${zip} ${CPACK_PACKAGE_FILE_NAME}
                        ${CPACK_TEMPORARY_DIRECTORY} $ENV{SOURCE_DATE_EPOCH}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "could not write ${zip}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${zip})
