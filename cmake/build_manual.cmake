# Builds one manual page from its scdoc source: the page itself (for mandoc and the tests) and
# the page compressed as Debian installs it (gzip -9n: no name, no time).
file(READ ${EPOCH_FILE} epoch)
string(STRIP "${epoch}" epoch)
set(ENV{SOURCE_DATE_EPOCH} ${epoch})
get_filename_component(folder ${PAGE} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
execute_process(COMMAND ${SCDOC} INPUT_FILE ${SOURCE} OUTPUT_FILE ${PAGE} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "scdoc could not build ${PAGE} from ${SOURCE}")
endif()
# scdoc sets a paragraph macro before and after each heading and before each end of an indent;
# mandoc warns of every one, as they do nothing. They are dropped.
file(READ ${PAGE} page)
foreach(pass 1 2)
  string(REGEX REPLACE "\n\\.P\n(\\.(SH|SS|RE|P)[ \n])" "\n\\1" page "${page}")
  string(REGEX REPLACE "(\n\\.(TH|SH|SS)[^\n]*)\n\\.P\n" "\\1\n" page "${page}")
endforeach()
file(WRITE ${PAGE} "${page}")
execute_process(COMMAND ${GZIP} -9n -c ${PAGE} OUTPUT_FILE ${PAGE}.gz RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${PAGE}")
endif()
