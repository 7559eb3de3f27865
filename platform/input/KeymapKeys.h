#pragma once

#include <QByteArray>
#include <QHash>
#include <QVector>

struct xkb_keymap;

// Which key types each keysym in an XKB keymap, over all of its layouts ("ru,us" holds c only
// in its second layout). Key combinations press that key with its layout selected.
class KeymapKeys
{
public:
    struct Place
    {
        quint32 keycode = 0; // XKB keycode; 0 when no layout has the keysym
        quint32 layout = 0;
    };

    KeymapKeys() = default;
    explicit KeymapKeys(xkb_keymap* keymap);
    // From the rules' names, as a compositor would compile them ("ru,us"); empty on failure.
    static KeymapKeys fromNames(const QByteArray& layouts);

    // The key at the lowest shift level that yields `sym`, in `preferredLayout` when that
    // layout has it, otherwise in the first layout that does.
    Place find(quint32 sym, quint32 preferredLayout) const;
    int layoutCount() const { return m_layouts.size(); }
    // Whether a key of some layout types `codePoint` (without a modifier beyond Shift).
    // Characters that type no keysym (other control characters) count as held: there is
    // nothing to put anywhere else.
    bool holdsCharacter(char32_t codePoint) const;
    // The same, in each of the layouts: typed whichever of them is the current one.
    bool holdsCharacterInEveryLayout(char32_t codePoint) const;
    // The layout a desktop gives a keyboard it was told nothing about (XKB_DEFAULT_LAYOUT,
    // otherwise "us"), compiled once.
    static const KeymapKeys& defaultLayout();

private:
    QVector<QHash<quint32, quint32>> m_layouts; // keysym -> keycode, per layout
};
