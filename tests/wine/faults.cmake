# Drive T: is a small tmpfs, so a disk can be filled for real.
kelvo_wine_test(faults_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/faults_test.cpp
                ENV KELVO_WINE_TMPFS=t:256k)
