// Another X client for the hot-key and selection tests, on $DISPLAY:
//   x11_peer grab <Control|Alt> <F1..F12>   grabs the key on the root window as
//                                           a program that got there first would
//   x11_peer silent                         takes the PRIMARY selection and never
//                                           answers a request for it
// Prints "grabbed", "refused" or "owner" and then holds on until its input
// closes (or it is killed); then it lets go and exits once the X server has
// done so, so that whoever tries next finds the key or selection free
// (exit code 1 and no waiting when refused).
#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv)
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (argc < 2 || xcb_connection_has_error(connection))
        return 2;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const bool grab = std::strcmp(argv[1], "grab") == 0;
    uint16_t modifiers = 0;
    xcb_keycode_t keycode = 0;
    if (grab && argc == 4) {
        modifiers = std::strcmp(argv[2], "Alt") == 0 ? XCB_MOD_MASK_1 : XCB_MOD_MASK_CONTROL;
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
        xcb_keycode_t* keycodes = xcb_key_symbols_get_keycode(symbols, XK_F1 + std::atoi(argv[3] + 1) - 1);
        keycode = keycodes ? *keycodes : 0;
        std::free(keycodes);
        xcb_key_symbols_free(symbols);
        xcb_generic_error_t* error = xcb_request_check(
            connection, xcb_grab_key_checked(connection, 1, root, modifiers, keycode, XCB_GRAB_MODE_ASYNC,
                                             XCB_GRAB_MODE_ASYNC));
        std::puts(error ? "refused" : "grabbed");
        std::fflush(stdout);
        if (error)
            return 1;
    } else if (std::strcmp(argv[1], "silent") == 0) {
        const xcb_window_t window = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_set_selection_owner(connection, window, XCB_ATOM_PRIMARY, XCB_CURRENT_TIME);
        xcb_get_selection_owner_reply_t* owner =
            xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, XCB_ATOM_PRIMARY), nullptr);
        const bool owned = owner && owner->owner == window;
        std::free(owner);
        if (!owned)
            return 1;
        std::puts("owner");
        std::fflush(stdout);
    } else {
        return 2;
    }
    // Requests for the selection pile up unanswered, unread.
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {}
    if (grab)
        xcb_ungrab_key(connection, keycode, root, modifiers);
    else
        xcb_set_selection_owner(connection, XCB_NONE, XCB_ATOM_PRIMARY, XCB_CURRENT_TIME);
    // A round trip: the server has handled the release before this ends.
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
    return 0;
}
