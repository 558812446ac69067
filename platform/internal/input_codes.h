// intuition.library's input codes and qualifiers, from SDL's keys, buttons
// and modifier state: pure functions, no window and no SDL call needed.
//
// Raw key codes are the classic keyboard's (0x00 to 0x67, 0x80 added on
// release); a key the classic keyboard lacks has none (IECODE_NONE). A
// vanilla key is the character a press gives, with Shift, Caps Lock and
// Control applied to letters. Platform-internal.
#ifndef QUILLPEEK_PLATFORM_INPUT_CODES_H
#define QUILLPEEK_PLATFORM_INPUT_CODES_H

#include <SDL_events.h>

#include "platform/exec.h"

namespace platform
{

// Input codes and qualifiers of mouse and key messages.
enum : UWORD {
    IECODE_LBUTTON = 0x68,
    IECODE_RBUTTON = 0x69,
    IECODE_MBUTTON = 0x6A,
    IECODE_UP_PREFIX = 0x80,
    IECODE_NOBUTTON = 0xFF,
    IECODE_NONE = 0xFF, // as a raw key code: the key has none
    IEQUALIFIER_LSHIFT = 0x1,
    IEQUALIFIER_RSHIFT = 0x2,
    IEQUALIFIER_CAPSLOCK = 0x4,
    IEQUALIFIER_CONTROL = 0x8,
    IEQUALIFIER_LALT = 0x10,
    IEQUALIFIER_RALT = 0x20,
    IEQUALIFIER_LCOMMAND = 0x40,
    IEQUALIFIER_RCOMMAND = 0x80,
    IEQUALIFIER_REPEAT = 0x200,
    IEQUALIFIER_MIDBUTTON = 0x1000,
    IEQUALIFIER_RBUTTON = 0x2000,
    IEQUALIFIER_LEFTBUTTON = 0x4000,
};

// The qualifier for SDL's modifier state and mouse button mask.
UWORD input_qualifier(SDL_Keymod mods, Uint32 buttons);

// The raw key code of a key, IECODE_NONE when the classic keyboard has none.
UWORD raw_key_code(SDL_Scancode scancode);

// The character a key press gives, or -1 for a key that gives none.
int vanilla_character(SDL_Keycode sym, Uint16 mod);

// The code of a mouse button press or release, IECODE_NONE for a button that
// gives no message (the right one without RMBTrap belongs to the menus).
UWORD button_code(Uint8 button, bool released, bool rmb_trap);

// What one key event gives: the class (0: no message) and its code.
struct KeyMessage {
    ULONG cls;
    UWORD code;
};

// A key gives IDCMP_VANILLAKEY when vanilla keys are asked for and it has a
// character (its release then gives nothing), otherwise IDCMP_RAWKEY with
// the release marked.
KeyMessage key_message(const SDL_Keysym &key, bool released, bool vanilla_asked);

} // namespace platform

#endif
