# The engine compiled with loopback addresses, linked in: headless installs
# never download. Drive T: is another volume for the temporary directory.
kelvo_wine_test(downloads_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/downloads_test.cpp
                LIBS kelvo-setup-loopback-units
                ENV KELVO_WINE_TMPFS=t:1m
                LOCKS http_port)
