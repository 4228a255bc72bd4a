# The call history: recent-calls submenu, the journal window and calling back through the simulator.
karvelon_add_test(test_history SOURCES test_history.cpp LIBS karvelon_ui karvelon_api)
