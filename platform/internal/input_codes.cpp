// See input_codes.h.
#include "platform/internal/input_codes.h"

#include "platform/internal/internal.h"
#include "platform/intuition.h"

namespace
{

using namespace platform;

// The keys outside the runs of letters, digits and function keys.
const Pair<SDL_Scancode, UWORD> other_keys[] = {
    {SDL_SCANCODE_SPACE, 0x40},    {SDL_SCANCODE_BACKSPACE, 0x41}, {SDL_SCANCODE_TAB, 0x42},
    {SDL_SCANCODE_KP_ENTER, 0x43}, {SDL_SCANCODE_RETURN, 0x44},    {SDL_SCANCODE_ESCAPE, 0x45},
    {SDL_SCANCODE_DELETE, 0x46},   {SDL_SCANCODE_UP, 0x4C},        {SDL_SCANCODE_DOWN, 0x4D},
    {SDL_SCANCODE_RIGHT, 0x4E},    {SDL_SCANCODE_LEFT, 0x4F},      {SDL_SCANCODE_HELP, 0x5F},
    {SDL_SCANCODE_LSHIFT, 0x60},   {SDL_SCANCODE_RSHIFT, 0x61},    {SDL_SCANCODE_CAPSLOCK, 0x62},
    {SDL_SCANCODE_LCTRL, 0x63},    {SDL_SCANCODE_RCTRL, 0x63},     {SDL_SCANCODE_LALT, 0x64},
    {SDL_SCANCODE_RALT, 0x65},     {SDL_SCANCODE_LGUI, 0x66},      {SDL_SCANCODE_RGUI, 0x67},
};

} // namespace

namespace platform
{

UWORD input_qualifier(SDL_Keymod mods, Uint32 buttons)
{
    static const Pair<Uint32, UWORD> modifiers[] = {
        {KMOD_LSHIFT, IEQUALIFIER_LSHIFT}, {KMOD_RSHIFT, IEQUALIFIER_RSHIFT},
        {KMOD_CAPS, IEQUALIFIER_CAPSLOCK}, {KMOD_CTRL, IEQUALIFIER_CONTROL},
        {KMOD_LALT, IEQUALIFIER_LALT},     {KMOD_RALT, IEQUALIFIER_RALT},
        {KMOD_LGUI, IEQUALIFIER_LCOMMAND}, {KMOD_RGUI, IEQUALIFIER_RCOMMAND},
    };
    UWORD q = 0;
    for (const auto &modifier : modifiers)
        q |= (mods & modifier.key) != 0 ? modifier.value : 0;
    q |= (buttons & SDL_BUTTON_LMASK) ? IEQUALIFIER_LEFTBUTTON : 0;
    q |= (buttons & SDL_BUTTON_MMASK) ? IEQUALIFIER_MIDBUTTON : 0;
    q |= (buttons & SDL_BUTTON_RMASK) ? IEQUALIFIER_RBUTTON : 0;
    return q;
}

UWORD raw_key_code(SDL_Scancode scancode)
{
    static const char letters[] =
        "\x20\x35\x33\x22\x12\x23\x24\x25\x17\x26\x27\x28\x37\x36\x18\x19\x10\x13\x21"
        "\x14\x16\x34\x11\x32\x15\x31"; // A to Z
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z)
        return static_cast<UBYTE>(letters[scancode - SDL_SCANCODE_A]);
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_0)
        return static_cast<UWORD>(0x01 + (scancode - SDL_SCANCODE_1));
    if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F10)
        return static_cast<UWORD>(0x50 + (scancode - SDL_SCANCODE_F1));
    return paired(other_keys, scancode, IECODE_NONE);
}

int vanilla_character(SDL_Keycode sym, Uint16 mod)
{
    if (sym >= 'a' && sym <= 'z') {
        int c = static_cast<int>(sym);
        if ((mod & KMOD_CTRL) != 0)
            return c & 0x1F;
        bool upper = ((mod & KMOD_SHIFT) != 0) != ((mod & KMOD_CAPS) != 0);
        return upper ? c - 'a' + 'A' : c;
    }
    if ((sym >= 0x20 && sym < 0x7F) || sym == '\b' || sym == '\t' || sym == '\r' || sym == 0x1B ||
        sym == 0x7F)
        return static_cast<int>(sym);
    return -1;
}

UWORD button_code(Uint8 button, bool released, bool rmb_trap)
{
    UWORD code;
    if (button == SDL_BUTTON_LEFT)
        code = IECODE_LBUTTON;
    else if (button == SDL_BUTTON_MIDDLE)
        code = IECODE_MBUTTON;
    else if (button == SDL_BUTTON_RIGHT && rmb_trap)
        code = IECODE_RBUTTON;
    else
        return IECODE_NONE;
    return released ? code | IECODE_UP_PREFIX : code;
}

KeyMessage key_message(const SDL_Keysym &key, bool released, bool vanilla_asked)
{
    int character = vanilla_character(key.sym, key.mod);
    if (character >= 0 && vanilla_asked) {
        if (released)
            return {0, 0};
        return {IDCMP_VANILLAKEY, static_cast<UWORD>(character)};
    }
    UWORD code = raw_key_code(key.scancode);
    if (code == IECODE_NONE)
        return {0, 0};
    return {IDCMP_RAWKEY, released ? UWORD(code | IECODE_UP_PREFIX) : code};
}

} // namespace platform
