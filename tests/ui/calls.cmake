# The call road: tray menu and call dialog.
karvelon_add_test(test_calls SOURCES test_calls.cpp LIBS karvelon_ui)
