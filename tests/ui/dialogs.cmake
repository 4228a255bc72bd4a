# Settings dialog and log viewer.
karvelon_add_test(test_dialogs SOURCES test_dialogs.cpp LIBS karvelon_ui)
