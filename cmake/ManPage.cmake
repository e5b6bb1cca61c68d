# Writes a man page from a program's own --help text, so that the two cannot
# drift apart. Run as a script:
#   cmake -DPROGRAM=path -DNAME=name -DSUMMARY=text -DVERSION=v -DOUTPUT=file -P ManPage.cmake
# For a program with commands (tressil-newick), every command listed in its
# overview as "  NAME COMMAND [options] ..." gets a section of its own help.

function(help_of out)
    execute_process(COMMAND ${PROGRAM} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${PROGRAM} ${ARGN} --help failed")
    endif()
    # roff reads a backslash as an escape and a leading dot or quote as a
    # request.
    string(REPLACE "\\" "\\e" text "${text}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

help_of(overview)
string(TOUPPER "${NAME}" title)
set(page ".TH ${title} 1 \"\" \"${NAME} ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\n${NAME} \\- ${SUMMARY}\n.SH DESCRIPTION\n.nf\n${overview}.fi\n")
string(REGEX MATCHALL "\n  ${NAME} [a-z]+ \\[options\\]" listed "${overview}")
foreach(line IN LISTS listed)
    string(REGEX REPLACE ".* ([a-z]+) \\[options\\]$" "\\1" command "${line}")
    help_of(help ${command})
    string(APPEND page ".SH ${NAME} ${command}\n.nf\n${help}.fi\n")
endforeach()
string(APPEND page ".SH SEE ALSO\nThe README and the docs folder of the source distribution.\n")
file(WRITE "${OUTPUT}" "${page}")
