// The keys that stop a runaway chunk, watched on a thread of their own.
#include "app/stopkeywatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <QGuiApplication>

#include "script/luaengine.h"

// After the toolkit's headers, whose names Xlib's macros would change.
#include <X11/Xlib.h>
#include <xcb/xcb.h>

// X keysyms of the two keys, and of the key that reaches the third and fourth levels.
static constexpr xcb_keysym_t kPauseKeysym = 0xff13;
static constexpr xcb_keysym_t kPeriodKeysym = 0x002e;
static constexpr xcb_keysym_t kLevel3ShiftKeysym = 0xfe03;
// A grab names its modifiers exactly, so Caps Lock and Num Lock (Mod2 on every common server)
// each need one of their own.
static constexpr uint16_t kLockModifiers[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                              XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};

// One key a stop key is on, and the modifiers that reach its level.
struct StopKey {
    xcb_keycode_t code;
    uint16_t modifiers;
};

// The server's keyboard mapping: for each keycode from `first` on, `perCode` keysyms, one a
// column. Columns 0 and 1 are the first group's first two levels, 2 and 3 the second group's,
// 4 and 5 the third and fourth levels.
struct KeyboardMapping {
    int first = 0;
    int perCode = 0;
    std::vector<xcb_keysym_t> symbols;
};

static KeyboardMapping ReadKeyboardMapping(xcb_connection_t* connection)
{
    const xcb_setup_t* setup = xcb_get_setup(connection);
    KeyboardMapping mapping;
    mapping.first = setup->min_keycode;
    const int count = setup->max_keycode - mapping.first + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, xcb_keycode_t(mapping.first), uint8_t(count)), nullptr);
    if (reply && reply->keysyms_per_keycode > 0) {
        const xcb_keysym_t* symbols = xcb_get_keyboard_mapping_keysyms(reply);
        mapping.perCode = reply->keysyms_per_keycode;
        mapping.symbols.assign(symbols, symbols + xcb_get_keyboard_mapping_keysyms_length(reply));
    }
    std::free(reply);
    return mapping;
}

// True when the key gives the keysym on one of its levels.
static bool KeyGives(const KeyboardMapping& mapping, int code, xcb_keysym_t keysym)
{
    const int i = code - mapping.first;
    if (i < 0 || mapping.perCode == 0 || size_t(i + 1) * size_t(mapping.perCode) > mapping.symbols.size())
        return false;
    const auto levels = mapping.symbols.begin() + i * mapping.perCode;
    return std::find(levels, levels + mapping.perCode, keysym) != levels + mapping.perCode;
}

// The modifier that the key of the third level (AltGr on most layouts) sets; 0 if no key does.
static uint16_t Level3Modifier(xcb_connection_t* connection, const KeyboardMapping& mapping)
{
    xcb_get_modifier_mapping_reply_t* reply =
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
    if (!reply)
        return 0;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
    uint16_t modifier = 0;
    for (int i = 0; !modifier && i < 8 * reply->keycodes_per_modifier; ++i)
        if (KeyGives(mapping, codes[i], kLevel3ShiftKeysym))
            modifier = uint16_t(1 << (i / reply->keycodes_per_modifier));
    std::free(reply);
    return modifier;
}

// Every key and level that gives Pause or a full stop, with the modifiers that reach that level:
// on a layout where the full stop is shifted, Ctrl+. is Ctrl+Shift with its key. A grab cannot
// tell the groups apart, so a key that gives one in the second group is taken in every group.
static std::vector<StopKey> StopKeys(xcb_connection_t* connection)
{
    const KeyboardMapping mapping = ReadKeyboardMapping(connection);
    const uint16_t level3 = Level3Modifier(connection, mapping);
    const uint16_t columnModifiers[] = {0, XCB_MOD_MASK_SHIFT, 0, XCB_MOD_MASK_SHIFT, level3,
                                        uint16_t(level3 | XCB_MOD_MASK_SHIFT)};
    const int columns = std::min(mapping.perCode, level3 ? 6 : 4);
    std::vector<StopKey> keys;
    for (size_t i = 0; mapping.perCode > 0 && i < mapping.symbols.size(); ++i) {
        const xcb_keysym_t symbol = mapping.symbols[i];
        const int column = int(i % size_t(mapping.perCode));
        if ((symbol != kPauseKeysym && symbol != kPeriodKeysym) || column >= columns)
            continue;
        const StopKey key{xcb_keycode_t(mapping.first + int(i) / mapping.perCode), columnModifiers[column]};
        if (std::none_of(keys.begin(), keys.end(),
                         [&](const StopKey& k) { return k.code == key.code && k.modifiers == key.modifiers; }))
            keys.push_back(key);
    }
    return keys;
}

// Takes Ctrl with each stop key from the window's clients, in place of what was taken before:
// while the keyboard is in the window those presses come to this connection alone. Another client
// may hold a combination already; the others are taken all the same.
static void GrabStopKeys(xcb_connection_t* connection, xcb_window_t window)
{
    xcb_ungrab_key(connection, XCB_GRAB_ANY, window, XCB_MOD_MASK_ANY);
    for (const StopKey& key : StopKeys(connection))
        for (uint16_t lock : kLockModifiers) {
            const xcb_void_cookie_t cookie =
                xcb_grab_key_checked(connection, 1, window, XCB_MOD_MASK_CONTROL | key.modifiers | lock, key.code,
                                     XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            std::free(xcb_request_check(connection, cookie));
        }
}

StopKeyWatcher::StopKeyWatcher(unsigned long window) : window(window)
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display())
        return;
    // The display the toolkit chose, which -display may have named.
    connection = xcb_connect(XDisplayString(x11->display()), nullptr);
    quitFd = eventfd(0, EFD_CLOEXEC);
    if (xcb_connection_has_error(connection) || quitFd < 0)
        return;
    GrabStopKeys(connection, xcb_window_t(window));
    thread = std::thread(&StopKeyWatcher::Run, this);
}

StopKeyWatcher::~StopKeyWatcher()
{
    if (thread.joinable()) {
        const uint64_t one = 1;
        while (write(quitFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread.join();
    }
    if (quitFd >= 0)
        close(quitFd);
    // The grabs end with the connection.
    if (connection)
        xcb_disconnect(connection);
}

// Every press of a stop key stops the chunk running then. A held key repeats as a release and a
// press at the same time: the repeats stop nothing, or holding the key would stop the reload
// that follows the first stop as well. The server tells every client when the keyboard's mapping
// changes (another layout chosen): the keys are then taken again where they now are.
void StopKeyWatcher::Run()
{
    pollfd waits[2] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {quitFd, POLLIN, 0}};
    xcb_keycode_t released = 0;
    xcb_timestamp_t releasedAt = 0;
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            const uint8_t type = event->response_type & 0x7f;
            const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
            if (type == XCB_KEY_RELEASE) {
                released = key->detail;
                releasedAt = key->time;
            } else if (type == XCB_KEY_PRESS && !(key->detail == released && key->time == releasedAt)) {
                StopRunningChunk();
            } else if (type == XCB_MAPPING_NOTIFY
                       && reinterpret_cast<const xcb_mapping_notify_event_t*>(event)->request != XCB_MAPPING_POINTER) {
                GrabStopKeys(connection, xcb_window_t(window));
            }
            std::free(event);
        }
        if (xcb_connection_has_error(connection))
            return;
        if (poll(waits, 2, -1) < 0 && errno != EINTR)
            return;
        if (waits[1].revents)
            return;
    }
}
