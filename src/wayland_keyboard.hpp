// The keyboard as a Wayland compositor describes it: a keymap (an xkb keymap
// in a file) and the modifier state, read through xkbcommon. The library is
// loaded, and the keymap compiled, only when a press needs them: with no
// modifier down and no key pressed there is nothing to tell apart, and both
// would slow every start and grow every plain pick.
#pragma once

#include "unique_fd.hpp"

#include <cstddef>
#include <cstdint>
#include <memory>

class KeyboardState {
public:
    KeyboardState();
    ~KeyboardState();
    KeyboardState(const KeyboardState&) = delete;
    KeyboardState& operator=(const KeyboardState&) = delete;

    // The keymap's file (XKB_V1 text) and its size, from wl_keyboard.keymap.
    void set_keymap(UniqueFd file, std::size_t size);
    // The state from wl_keyboard.modifiers.
    void set_modifiers(std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked, std::uint32_t group);
    // Shift and Control as X's modifier mask, which chooses the output mode.
    unsigned modifiers_held();
    // Whether the key (the kernel's code) is Escape in the keymap.
    bool is_escape(std::uint32_t key);

private:
    struct Compiled;
    // The keymap compiled, with the state set; null without a keymap or xkbcommon.
    Compiled* compiled();

    UniqueFd keymap_file_;
    std::size_t keymap_size_ = 0;
    std::uint32_t depressed_ = 0, latched_ = 0, locked_ = 0, group_ = 0;
    std::unique_ptr<Compiled> compiled_;
};
