# Hardening scenarios: faults of the host around the tool, and malformed
# traffic on its link. Included from tests/e2e/CMakeLists.txt after corvanite_e2e()
# and corvanite_e2e_router() are defined; each scenario builds a lab of its own.

# Faults. The ones on the full lab run in its groups (tests/e2e/CMakeLists.txt, e2e.lab.full.a
# and .b); those of a bare lab here. A bare pass is about 28 s; time limits as in
# CMakeLists.txt (measured worst times 1.5, plus 100 s of lab start-up).
corvanite_e2e(faults.stdin_closed 180 faults_stdin_closed.sh)
corvanite_e2e(faults.stdout_closed 60 faults_stdout_closed.sh)
corvanite_e2e(faults.stdout_closed_sigpipe_ignored 60 faults_stdout_closed.sh sigpipe-ignored)

# Malformed traffic at 5000 frames/s during a whole pass. Alone on the machine: the
# sender takes a good part of a core, and the other scenarios' listening windows
# should not pay for it.
# On the bare lab the flood also holds later fragments whose data begins like a query or
# a Hello: 4 frames more in a batch of 142, each frame still sent about a thousand times
# a pass, so one pass proves both, and the suite waits out one serial pass less.
corvanite_e2e_router(flood.full 180 flood_full.sh)
corvanite_e2e(flood.bare 180 flood_bare.sh fragments)
set_tests_properties(e2e.flood.full e2e.flood.bare PROPERTIES RUN_SERIAL TRUE)

# A kernel before 4.20, played by a shim that refuses PACKET_IGNORE_OUTGOING (the
# scenario faults.old_kernel, in group full.a, gets it as E2E_SHIM_OLD_KERNEL).
add_library(corvanite_no_ignore_outgoing MODULE shims/no_ignore_outgoing.cpp)
target_link_libraries(corvanite_no_ignore_outgoing PRIVATE ${CMAKE_DL_LIBS})
