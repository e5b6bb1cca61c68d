# Included by CTest after the discovered tests. Every test fails after about
# ten times its usual time under the sanitizers (the slowest build), so a
# hang fails fast: 60 s for most, which take at most 4 s there, and 300 s for
# these, which take 4 to 25 s.
set(TRESSIL_SLOW_TESTS
    "^(NewickTool\\.RoundTrip|Search\\.|Rescoring\\.|OptionValues\\.|InferTable\\.|InferMethod\\.|SolveExact\\.|MinCutSplitTest\\.MatchesLiteralOnRandom|Limits\\.DeepTrees)")
foreach(test IN LISTS tressil_tests_TESTS)
    if(test MATCHES "${TRESSIL_SLOW_TESTS}")
        set_tests_properties("${test}" PROPERTIES TIMEOUT 300)
    endif()
endforeach()
