# Messages through the desktop's notification server, on a private bus.
karvelon_add_test(test_desktop SOURCES test_desktop.cpp LIBS karvelon_ui)
