# Writes the manual page of traz from its --help and --help-deck texts (run by make install).
# Expects TRAZ_EXE (the built traz), OUT (the page to write) and VERSION.
execute_process(COMMAND "${TRAZ_EXE}" --help OUTPUT_VARIABLE help RESULT_VARIABLE help_status)
execute_process(COMMAND "${TRAZ_EXE}" --help-deck OUTPUT_VARIABLE deck RESULT_VARIABLE deck_status)
if(NOT help_status EQUAL 0 OR NOT deck_status EQUAL 0)
  message(FATAL_ERROR "${TRAZ_EXE} --help or --help-deck failed")
endif()
foreach(text help deck)
  # Backslashes print as themselves; a line starting with . or ' is text, not a request.
  string(REPLACE "\\" "\\e" ${text} "${${text}}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" ${text} "${${text}}")
endforeach()
file(WRITE "${OUT}"
  ".TH TRAZ 1 \"\" \"traz ${VERSION}\" \"User Commands\"\n"
  ".SH NAME\ntraz \\- expected outcomes of multi-stage selection from a finite, mixed applicant pool\n"
  ".SH DESCRIPTION\n.nf\n${help}.fi\n"
  ".SH THE DECK\n.nf\n${deck}.fi\n"
  ".SH FILES\nThe example decks are in the documentation folder, under examples/.\n")
