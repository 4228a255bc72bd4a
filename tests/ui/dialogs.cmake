# Settings dialog and log viewer.
karvelon_add_test(test_settingsdialog SOURCES test_settingsdialog.cpp LIBS karvelon_ui TIMEOUT 180)
karvelon_add_test(test_logviewer SOURCES test_logviewer.cpp LIBS karvelon_ui)
