/* tray_owner: the smallest notification area there is, for tests under Xvfb. It takes the
 * selection _NET_SYSTEM_TRAY_S<screen> of the display's default screen, announces itself as
 * the desktop's tray manager does (a MANAGER client message to the root window), prints "ready"
 * and keeps the selection until it is killed or loses it. Icons that ask to dock are not shown. */
#include <xcb/xcb.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, (uint16_t)strlen(name), name), NULL);
    xcb_atom_t a = reply ? reply->atom : XCB_ATOM_NONE;
    free(reply);
    return a;
}

int main(void)
{
    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(NULL, &screenNumber);
    if (xcb_connection_has_error(c)) {
        fprintf(stderr, "tray_owner: no X display\n");
        return 1;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    xcb_screen_t *screen = it.data;

    xcb_window_t owner = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, screen->root, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, NULL);
    char selectionName[32];
    snprintf(selectionName, sizeof selectionName, "_NET_SYSTEM_TRAY_S%d", screenNumber);
    const xcb_atom_t selection = atom(c, selectionName);
    xcb_set_selection_owner(c, owner, selection, XCB_CURRENT_TIME);
    xcb_get_selection_owner_reply_t *got =
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), NULL);
    if (!got || got->owner != owner) {
        fprintf(stderr, "tray_owner: %s is taken\n", selectionName);
        return 1;
    }
    free(got);

    xcb_client_message_event_t manager;
    memset(&manager, 0, sizeof manager);
    manager.response_type = XCB_CLIENT_MESSAGE;
    manager.format = 32;
    manager.window = screen->root;
    manager.type = atom(c, "MANAGER");
    manager.data.data32[0] = XCB_CURRENT_TIME;
    manager.data.data32[1] = selection;
    manager.data.data32[2] = owner;
    xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY, (const char *)&manager);
    xcb_flush(c);
    printf("ready\n");
    fflush(stdout);

    xcb_generic_event_t *event;
    while ((event = xcb_wait_for_event(c)) != NULL) {
        const int lost = (event->response_type & 0x7f) == XCB_SELECTION_CLEAR;
        free(event);
        if (lost)
            break;
    }
    xcb_disconnect(c);
    return 0;
}
