#pragma once

// X keysyms, which xkbcommon and the Wayland keymaps share.

// The keysym for a Windows virtual-key code; 0 when there is none.
unsigned long keysymForVirtualKey(int vk);
// The keysym that types a Unicode code point; 0 for characters that type nothing.
unsigned long keysymForCodePoint(char32_t codePoint);
