# Fails when the committed dictionary differs from what the key table gives.
execute_process(COMMAND ${EMULATOR} ${GENERATOR} OUTPUT_VARIABLE generated RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dictionary generator failed: ${rc}")
endif()
file(READ ${EXPECTED} committed)
if(NOT generated STREQUAL committed)
  message(FATAL_ERROR "fuzz/settings.dict is out of date: regenerate it with fuzz_make_dict")
endif()
