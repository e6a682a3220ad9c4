# cmake -DHELP2MAN=... -DGZIP=... -DPROGRAM=... -DINCLUDE=... -DPAGE=... -P man_page.cmake
#
# The manual page from the program's --help and --version (help2man) and
# the include file, written to PAGE and compressed beside it (PAGE.gz, as
# Debian installs manual pages). help2man makes the help's "Exit status:"
# a sub-section of the options; here it becomes the section of its own
# that readers of manual pages look for.

# Dated by the release, not by the build, so that the page is the same from
# every build.
set(ENV{SOURCE_DATE_EPOCH} 1731283200)
set(ENV{LC_ALL} C)
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1
          "--name=write the G-code print job of a face-shield visor headband"
          --include=${INCLUDE} ${PROGRAM}
  OUTPUT_VARIABLE page
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed on ${PROGRAM}")
endif()

set(exit_status_heading ".SS \"Exit status:\"")
string(FIND "${page}" "${exit_status_heading}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "The help has no \"Exit status:\" heading any more")
endif()
string(REPLACE "${exit_status_heading}" ".SH \"EXIT STATUS\"" page "${page}")
# The help's headings end in ":"; a manual page's do not.
string(REGEX REPLACE "\n\\.SS \"([^\"\n]*):\"" "\n.SS \"\\1\"" page "${page}")
file(WRITE ${PAGE} "${page}")

# -n: no name or time stamp in the header, so that the file is the same
# from every build.
execute_process(COMMAND ${GZIP} -9nf -k ${PAGE} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${PAGE}")
endif()
