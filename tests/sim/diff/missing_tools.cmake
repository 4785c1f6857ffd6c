# Stands in for the comparison of the 8051 core with ucsim's s51 when a tool it needs is
# missing, so that the test run fails and says how to put it right.
message(FATAL_ERROR "${MISSING} not found, so the 8051 core was not compared with ucsim's s51. "
                    "Install what is missing with scripts/install-deps.sh (Debian packages sdcc "
                    "and sdcc-ucsim), then configure the build again.")
