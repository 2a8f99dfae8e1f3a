#include "wayland_keyboard.hpp"

#include <X11/X.h>
#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstring>

namespace {

// The functions of xkbcommon that pixla calls, found in the library once it
// is loaded, each with the type that its header declares.
struct Xkbcommon {
    decltype(&xkb_context_new) context_new;
    decltype(&xkb_context_unref) context_unref;
    decltype(&xkb_keymap_new_from_buffer) keymap_new_from_buffer;
    decltype(&xkb_keymap_unref) keymap_unref;
    decltype(&xkb_state_new) state_new;
    decltype(&xkb_state_unref) state_unref;
    decltype(&xkb_state_update_mask) state_update_mask;
    decltype(&xkb_state_mod_name_is_active) state_mod_name_is_active;
    decltype(&xkb_state_key_get_one_sym) state_key_get_one_sym;
};

template <typename Function>
bool find(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// The library, loaded on first use and kept; null where it cannot be.
const Xkbcommon* xkbcommon()
{
    static const auto loaded = []() -> std::unique_ptr<Xkbcommon> {
        void* library = dlopen("libxkbcommon.so.0", RTLD_LAZY | RTLD_LOCAL);
        auto x = std::make_unique<Xkbcommon>();
        if (library && find(library, "xkb_context_new", x->context_new) &&
            find(library, "xkb_context_unref", x->context_unref) &&
            find(library, "xkb_keymap_new_from_buffer", x->keymap_new_from_buffer) &&
            find(library, "xkb_keymap_unref", x->keymap_unref) && find(library, "xkb_state_new", x->state_new) &&
            find(library, "xkb_state_unref", x->state_unref) &&
            find(library, "xkb_state_update_mask", x->state_update_mask) &&
            find(library, "xkb_state_mod_name_is_active", x->state_mod_name_is_active) &&
            find(library, "xkb_state_key_get_one_sym", x->state_key_get_one_sym))
            return x;
        return nullptr;
    }();
    return loaded.get();
}

}  // namespace

struct KeyboardState::Compiled {
    explicit Compiled(const Xkbcommon& x) : x{x} {}
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;

    const Xkbcommon& x;
    xkb_context* context = nullptr;
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;

    ~Compiled()
    {
        if (state)
            x.state_unref(state);
        if (keymap)
            x.keymap_unref(keymap);
        if (context)
            x.context_unref(context);
    }
};

KeyboardState::KeyboardState() = default;
KeyboardState::~KeyboardState() = default;

void KeyboardState::set_keymap(UniqueFd file, std::size_t size)
{
    keymap_file_ = std::move(file);
    keymap_size_ = size;
    compiled_.reset();
}

void KeyboardState::set_modifiers(std::uint32_t depressed, std::uint32_t latched, std::uint32_t locked,
                                  std::uint32_t group)
{
    depressed_ = depressed;
    latched_ = latched;
    locked_ = locked;
    group_ = group;
}

KeyboardState::Compiled* KeyboardState::compiled()
{
    const Xkbcommon* x = xkbcommon();
    struct stat file;
    if (!compiled_ && keymap_file_ && x && fstat(keymap_file_.get(), &file) == 0) {
        // Never past the file's end, whatever size the compositor claimed:
        // reading there would kill pixla with SIGBUS.
        const std::size_t size = std::min(keymap_size_, static_cast<std::size_t>(file.st_size));
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, keymap_file_.get(), 0);
        if (text == MAP_FAILED)
            return nullptr;
        auto keymap = std::make_unique<Compiled>(*x);
        keymap->context = x->context_new(
            static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES | XKB_CONTEXT_NO_ENVIRONMENT_NAMES));
        if (keymap->context)
            keymap->keymap = x->keymap_new_from_buffer(keymap->context, static_cast<const char*>(text),
                                                       strnlen(static_cast<const char*>(text), size),
                                                       XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
        munmap(text, size);
        if (keymap->keymap)
            keymap->state = x->state_new(keymap->keymap);
        if (keymap->state)
            compiled_ = std::move(keymap);
    }
    if (compiled_)
        compiled_->x.state_update_mask(compiled_->state, depressed_, latched_, locked_, 0, 0, group_);
    return compiled_.get();
}

unsigned KeyboardState::modifiers_held()
{
    if ((depressed_ | latched_ | locked_) == 0)
        return 0;
    Compiled* keys = compiled();
    if (!keys)
        return 0;
    const auto active = [&](const char* name) {
        return keys->x.state_mod_name_is_active(keys->state, name, XKB_STATE_MODS_EFFECTIVE) > 0;
    };
    return (active(XKB_MOD_NAME_SHIFT) ? ShiftMask : 0u) | (active(XKB_MOD_NAME_CTRL) ? ControlMask : 0u);
}

bool KeyboardState::is_escape(std::uint32_t key)
{
    // xkb numbers keys 8 above the kernel's codes.
    Compiled* keys = compiled();
    return keys && keys->x.state_key_get_one_sym(keys->state, key + 8) == XKB_KEY_Escape;
}
