# Writes the manual page OUTPUT from the text of "BINARY --help": the usage
# line as the synopsis, the rest as the description, in roff.
execute_process(COMMAND ${BINARY} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${BINARY} --help failed")
endif()
execute_process(COMMAND ${BINARY} --version OUTPUT_VARIABLE version OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REPLACE "\\" "\\e" help "${help}")
string(REGEX REPLACE "\n\\." "\n\\\\&." help "${help}")
string(FIND "${help}" "\n" first_break)
string(SUBSTRING "${help}" 0 ${first_break} usage)
math(EXPR body_start "${first_break} + 1")
string(SUBSTRING "${help}" ${body_start} -1 body)
string(REPLACE "Usage: " "" usage "${usage}")
file(WRITE ${OUTPUT} ".TH TARNAXEL 1 \"\" \"${version}\" \"User Commands\"
.SH NAME
tarnaxel \\- screen SDF files of molecules against a structural pattern
.SH SYNOPSIS
.B ${usage}
.SH DESCRIPTION
.nf
${body}.fi
.SH SEE ALSO
tarnaxel-parallel (screens shards of one file on many hosts with GNU parallel)
")
