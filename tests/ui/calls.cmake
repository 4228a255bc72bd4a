# Tray menu, call dialog and balloons.
karvelon_add_test(test_tray SOURCES test_tray.cpp LIBS karvelon_ui)
karvelon_add_test(test_calldialog SOURCES test_calldialog.cpp LIBS karvelon_ui)
karvelon_add_test(test_notifier SOURCES test_notifier.cpp LIBS karvelon_ui)
karvelon_add_test(test_notifier_app SOURCES test_notifier_app.cpp LIBS karvelon_ui karvelon_app)
