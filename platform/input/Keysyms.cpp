#include "platform/input/Keysyms.h"

// Only the keysym values; nothing here talks to an X server.
#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

unsigned long keysymForVirtualKey(int vk)
{
    if (vk >= 0x41 && vk <= 0x5A) // letters: the unshifted key
        return XK_a + (vk - 0x41);
    if (vk >= 0x30 && vk <= 0x39)
        return XK_0 + (vk - 0x30);
    if (vk >= 0x60 && vk <= 0x69)
        return XK_KP_0 + (vk - 0x60);
    if (vk >= 0x70 && vk <= 0x87)
        return XK_F1 + (vk - 0x70);
    switch (vk) {
    case 0x08:
        return XK_BackSpace;
    case 0x09:
        return XK_Tab;
    case 0x0C:
        return XK_Clear;
    case 0x0D:
        return XK_Return;
    case 0x10:
        return XK_Shift_L;
    case 0x11:
        return XK_Control_L;
    case 0x12:
        return XK_Alt_L;
    case 0x13:
        return XK_Pause;
    case 0x14:
        return XK_Caps_Lock;
    case 0x1B:
        return XK_Escape;
    case 0x20:
        return XK_space;
    case 0x21:
        return XK_Prior;
    case 0x22:
        return XK_Next;
    case 0x23:
        return XK_End;
    case 0x24:
        return XK_Home;
    case 0x25:
        return XK_Left;
    case 0x26:
        return XK_Up;
    case 0x27:
        return XK_Right;
    case 0x28:
        return XK_Down;
    case 0x29:
        return XK_Select;
    case 0x2A:
        return XK_Print;
    case 0x2B:
        return XK_Execute;
    case 0x2C:
        return XK_Print; // print screen
    case 0x2D:
        return XK_Insert;
    case 0x2E:
        return XK_Delete;
    case 0x2F:
        return XK_Help;
    case 0x5B:
        return XK_Super_L;
    case 0x5C:
        return XK_Super_R;
    case 0x5D:
        return XK_Menu;
    case 0x5F:
        return XF86XK_Sleep;
    case 0x6A:
        return XK_KP_Multiply;
    case 0x6B:
        return XK_KP_Add;
    case 0x6C:
        return XK_KP_Separator;
    case 0x6D:
        return XK_KP_Subtract;
    case 0x6E:
        return XK_KP_Decimal;
    case 0x6F:
        return XK_KP_Divide;
    case 0x90:
        return XK_Num_Lock;
    case 0x91:
        return XK_Scroll_Lock;
    case 0xA0:
        return XK_Shift_L;
    case 0xA1:
        return XK_Shift_R;
    case 0xA2:
        return XK_Control_L;
    case 0xA3:
        return XK_Control_R;
    case 0xA4:
        return XK_Alt_L;
    case 0xA5:
        return XK_Alt_R;
    case 0xA6:
        return XF86XK_Back;
    case 0xA7:
        return XF86XK_Forward;
    case 0xA8:
        return XF86XK_Refresh;
    case 0xA9:
        return XF86XK_Stop;
    case 0xAA:
        return XF86XK_Search;
    case 0xAB:
        return XF86XK_Favorites;
    case 0xAC:
        return XF86XK_HomePage;
    case 0xAD:
        return XF86XK_AudioMute;
    case 0xAE:
        return XF86XK_AudioLowerVolume;
    case 0xAF:
        return XF86XK_AudioRaiseVolume;
    case 0xB0:
        return XF86XK_AudioNext;
    case 0xB1:
        return XF86XK_AudioPrev;
    case 0xB2:
        return XF86XK_AudioStop;
    case 0xB3:
        return XF86XK_AudioPlay;
    case 0xB4:
        return XF86XK_Mail;
    case 0xB5:
        return XF86XK_AudioMedia;
    case 0xB6:
        return XF86XK_MyComputer;
    case 0xB7:
        return XF86XK_Calculator;
    // Punctuation keys as they sit on a US keyboard.
    case 0xBA:
        return XK_semicolon;
    case 0xBB:
        return XK_equal;
    case 0xBC:
        return XK_comma;
    case 0xBD:
        return XK_minus;
    case 0xBE:
        return XK_period;
    case 0xBF:
        return XK_slash;
    case 0xC0:
        return XK_grave;
    case 0xDB:
        return XK_bracketleft;
    case 0xDC:
        return XK_backslash;
    case 0xDD:
        return XK_bracketright;
    case 0xDE:
        return XK_apostrophe;
    case 0xE2:
        return XK_less;
    default:
        return 0;
    }
}

unsigned long keysymForCodePoint(char32_t codePoint)
{
    switch (codePoint) {
    case 0x08:
        return XK_BackSpace;
    case 0x09:
        return XK_Tab;
    case 0x0A:
    case 0x0D:
        return XK_Return;
    case 0x1B:
        return XK_Escape;
    case 0x7F:
        return XK_Delete;
    default:
        break;
    }
    if (codePoint < 0x20 || (codePoint >= 0x80 && codePoint < 0xA0))
        return 0; // other control characters have no key
    if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
        return 0;
    if (codePoint <= 0xFF)
        return codePoint; // Latin-1 keysyms equal their code points
    // The keysym layouts carry (Cyrillic_zhe for ж, not the Unicode keysym U0436): a desktop
    // that looks a keysym up in its keymap finds only that one.
    return xkb_utf32_to_keysym(codePoint);
}
