# The real setup window driven from outside, on the test run's own display;
# the loopback build's host is the tests' HTTP port. The frame and controls
# also at the other DPIs.
kelvo_wine_test(gui_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/gui_test.cpp
                LOCKS http_port
                DPIS 120 144 192 DPI_FILTER Gui.FrameControlsAndPagesFromOutside)
