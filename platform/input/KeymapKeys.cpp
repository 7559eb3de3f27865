#include "platform/input/KeymapKeys.h"
#include "platform/input/Keysyms.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>

KeymapKeys::KeymapKeys(xkb_keymap* keymap)
{
    if (keymap == nullptr)
        return;
    const xkb_keycode_t min = xkb_keymap_min_keycode(keymap);
    // Keys past 255 (US has EuroSign on one) never reach X clients, XWayland's included.
    const xkb_keycode_t max = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap), 255);
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap);
    m_layouts.resize(int(layouts));
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        QHash<quint32, quint32>& keys = m_layouts[int(layout)];
        // Unshifted first: a combination presses the key that gives the keysym by itself.
        for (xkb_level_index_t level = 0; level < 2; ++level) {
            for (xkb_keycode_t code = min; code <= max; ++code) {
                const xkb_keysym_t* syms = nullptr;
                const int n = xkb_keymap_key_get_syms_by_level(keymap, code, layout, level, &syms);
                for (int i = 0; i < n; ++i) {
                    if (!keys.contains(syms[i]))
                        keys.insert(syms[i], code);
                }
            }
        }
    }
}

KeymapKeys KeymapKeys::fromNames(const QByteArray& layouts)
{
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context == nullptr)
        return KeymapKeys();
    xkb_rule_names names{};
    names.layout = layouts.constData();
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    KeymapKeys keys(keymap);
    xkb_keymap_unref(keymap);
    xkb_context_unref(context);
    return keys;
}

KeymapKeys::Place KeymapKeys::find(quint32 sym, quint32 preferredLayout) const
{
    if (sym == 0)
        return Place();
    if (preferredLayout < quint32(m_layouts.size())) {
        const auto it = m_layouts.at(int(preferredLayout)).constFind(sym);
        if (it != m_layouts.at(int(preferredLayout)).constEnd())
            return Place{it.value(), preferredLayout};
    }
    for (int layout = 0; layout < m_layouts.size(); ++layout) {
        const auto it = m_layouts.at(layout).constFind(sym);
        if (it != m_layouts.at(layout).constEnd())
            return Place{it.value(), quint32(layout)};
    }
    return Place();
}

bool KeymapKeys::holdsCharacter(char32_t codePoint) const
{
    // Without a keymap (no XKB data here) nothing is known: keys are tried, as before.
    const unsigned long sym = keysymForCodePoint(codePoint);
    return sym == 0 || m_layouts.isEmpty() || find(quint32(sym), 0).keycode != 0;
}

bool KeymapKeys::holdsCharacterInEveryLayout(char32_t codePoint) const
{
    const unsigned long sym = keysymForCodePoint(codePoint);
    if (sym == 0)
        return true;
    for (const QHash<quint32, quint32>& keys : m_layouts) {
        if (!keys.contains(quint32(sym)))
            return false;
    }
    return true;
}

const KeymapKeys& KeymapKeys::defaultLayout()
{
    static const KeymapKeys keys = fromNames(QByteArray());
    return keys;
}
