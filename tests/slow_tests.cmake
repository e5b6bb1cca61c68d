# Included by CTest after the discovered tests. Every test fails after about
# ten times its usual time under the sanitizers (the slowest build), so a
# hang fails fast: 60 s for most, which take at most 4 s there, and 300 s for
# the tests that start with one of these names, which take 4 to 25 s.
set(slow_tests
    NewickTool.RoundTrip
    Search.
    Rescoring.
    OptionValues.
    InferTable.
    InferMethod.
    SolveExact.
    MinCutSplitTest.MatchesLiteralOnRandom
    Limits.DeepTrees
    NearLimit.
    InferOutgroupRoot.
    RootUnplaced.
    Score.
    Runs/EndToEnd.MatchesByteForByte/ExactAt20)
foreach(test IN LISTS tressil_tests_TESTS)
    foreach(slow IN LISTS slow_tests)
        string(FIND "${test}" "${slow}" at)
        if(at EQUAL 0)
            set_tests_properties("${test}" PROPERTIES TIMEOUT 300)
        endif()
    endforeach()
endforeach()
