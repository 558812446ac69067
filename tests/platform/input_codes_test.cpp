// intuition.library's translation of keys, buttons and modifiers into input
// codes and qualifiers, without a window.
#include <gtest/gtest.h>

#include "platform/internal/input_codes.h"
#include "platform/intuition.h"

using namespace platform;

namespace
{

SDL_Keysym keysym(SDL_Scancode scancode, SDL_Keycode sym, Uint16 mod = KMOD_NONE)
{
    SDL_Keysym key = {};
    key.scancode = scancode;
    key.sym = sym;
    key.mod = mod;
    return key;
}

TEST(InputCodes, RawKeysFollowTheClassicKeyboard)
{
    const struct {
        SDL_Scancode scancode;
        UWORD code;
    } cases[] = {
        {SDL_SCANCODE_A, 0x20},      {SDL_SCANCODE_Q, 0x10},          {SDL_SCANCODE_Z, 0x31},
        {SDL_SCANCODE_M, 0x37},      {SDL_SCANCODE_1, 0x01},          {SDL_SCANCODE_0, 0x0A},
        {SDL_SCANCODE_F1, 0x50},     {SDL_SCANCODE_F10, 0x59},        {SDL_SCANCODE_SPACE, 0x40},
        {SDL_SCANCODE_RETURN, 0x44}, {SDL_SCANCODE_KP_ENTER, 0x43},   {SDL_SCANCODE_ESCAPE, 0x45},
        {SDL_SCANCODE_LEFT, 0x4F},   {SDL_SCANCODE_HELP, 0x5F},       {SDL_SCANCODE_RCTRL, 0x63},
        {SDL_SCANCODE_RGUI, 0x67},   {SDL_SCANCODE_F11, IECODE_NONE}, {SDL_SCANCODE_PRINTSCREEN, IECODE_NONE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(raw_key_code(c.scancode), c.code) << "scancode " << c.scancode;
}

TEST(InputCodes, VanillaCharactersApplyShiftCapsLockAndControlToLetters)
{
    const struct {
        SDL_Keycode sym;
        Uint16 mod;
        int character;
    } cases[] = {
        {'a', KMOD_NONE, 'a'},          {'a', KMOD_LSHIFT, 'A'},
        {'a', KMOD_CAPS, 'A'},          {'a', KMOD_RSHIFT | KMOD_CAPS, 'a'},
        {'c', KMOD_LCTRL, 0x03},        {'c', KMOD_RCTRL | KMOD_SHIFT, 0x03},
        {'1', KMOD_SHIFT, '1'},         {'\r', KMOD_NONE, '\r'},
        {SDLK_ESCAPE, KMOD_NONE, 0x1B}, {SDLK_DELETE, KMOD_NONE, 0x7F},
        {SDLK_F1, KMOD_NONE, -1},       {SDLK_LSHIFT, KMOD_LSHIFT, -1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vanilla_character(c.sym, c.mod), c.character) << c.sym << " mod " << c.mod;
}

TEST(InputCodes, QualifiersNameEachModifierAndButton)
{
    EXPECT_EQ(input_qualifier(KMOD_NONE, 0), 0);
    EXPECT_EQ(input_qualifier(SDL_Keymod(KMOD_LSHIFT | KMOD_RALT), 0), IEQUALIFIER_LSHIFT | IEQUALIFIER_RALT);
    EXPECT_EQ(input_qualifier(SDL_Keymod(KMOD_RCTRL | KMOD_CAPS | KMOD_LGUI), 0),
              IEQUALIFIER_CONTROL | IEQUALIFIER_CAPSLOCK | IEQUALIFIER_LCOMMAND);
    EXPECT_EQ(input_qualifier(KMOD_NONE, SDL_BUTTON_LMASK | SDL_BUTTON_RMASK),
              IEQUALIFIER_LEFTBUTTON | IEQUALIFIER_RBUTTON);
    EXPECT_EQ(input_qualifier(KMOD_NUM, SDL_BUTTON_MMASK), IEQUALIFIER_MIDBUTTON); // Num Lock has none
}

TEST(InputCodes, ButtonsGiveTheirCodesAndTheRightOneOnlyWithRMBTrap)
{
    EXPECT_EQ(button_code(SDL_BUTTON_LEFT, false, false), IECODE_LBUTTON);
    EXPECT_EQ(button_code(SDL_BUTTON_MIDDLE, true, false), IECODE_MBUTTON | IECODE_UP_PREFIX);
    EXPECT_EQ(button_code(SDL_BUTTON_RIGHT, true, true), IECODE_RBUTTON | IECODE_UP_PREFIX);
    EXPECT_EQ(button_code(SDL_BUTTON_RIGHT, false, false), IECODE_NONE);
    EXPECT_EQ(button_code(SDL_BUTTON_X1, false, true), IECODE_NONE);
}

TEST(InputCodes, KeysGiveVanillaWhenAskedOtherwiseRawWithTheRelease)
{
    SDL_Keysym a = keysym(SDL_SCANCODE_A, 'a', KMOD_LSHIFT);
    SDL_Keysym f1 = keysym(SDL_SCANCODE_F1, SDLK_F1);
    SDL_Keysym f12 = keysym(SDL_SCANCODE_F12, SDLK_F12);
    const struct {
        SDL_Keysym key;
        bool released, vanilla;
        ULONG cls;
        UWORD code;
    } cases[] = {
        {a, false, true, IDCMP_VANILLAKEY, 'A'},
        {a, true, true, 0, 0},
        {a, false, false, IDCMP_RAWKEY, 0x20},
        {a, true, false, IDCMP_RAWKEY, 0x20 | IECODE_UP_PREFIX},
        {f1, false, true, IDCMP_RAWKEY, 0x50},
        {f1, true, true, IDCMP_RAWKEY, 0x50 | IECODE_UP_PREFIX},
        {f12, false, true, 0, 0},
    };
    for (const auto &c : cases) {
        KeyMessage message = key_message(c.key, c.released, c.vanilla);
        EXPECT_EQ(message.cls, c.cls) << c.key.sym << " released " << c.released << " vanilla " << c.vanilla;
        EXPECT_EQ(message.code, c.code)
            << c.key.sym << " released " << c.released << " vanilla " << c.vanilla;
    }
}

} // namespace
