# cmake -DPROGRAM=<quillix-crypt> -DVERSION=<x.y.z> -DOUTPUT=<file.1.gz> -P man_page.cmake
# The manual page of quillix-crypt, from the text of its --help.
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed")
endif()
# That line names the settings file of whoever builds the page; FILES below says it in general.
string(REGEX REPLACE "\nDefaults are read from:[^\n]*" "" help "${help}")
string(STRIP "${help}" help)
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
# A line starting with a dot or an apostrophe would be a roff request.
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
file(WRITE ${OUTPUT}.tmp
".TH QUILLIX\\-CRYPT 1 \"\" \"quillix\\-crypt ${VERSION}\" \"User Commands\"
.SH NAME
quillix\\-crypt \\- encrypt and decrypt pictures the way the Quillix gallery does
.SH DESCRIPTION
.nf
${help}
.fi
.SH FILES
.TP
.I ~/.config/quillix/Quillix.ini
The settings of the Quillix gallery, from which the defaults of the options are read
(\\fI$XDG_CONFIG_HOME/quillix/\\fP when that is set; next to the program when it runs from a
folder of its own).
")
execute_process(COMMAND gzip -9n -c ${OUTPUT}.tmp OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE status)
file(REMOVE ${OUTPUT}.tmp)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed")
endif()
