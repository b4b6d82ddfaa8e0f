#include "view/input_script.hpp"

#include <array>
#include <cmath>
#include <string>
#include <utility>

namespace orv::view {

namespace {

struct NamedKey {
  std::string_view name;
  Key key;
};

// Every enumerator of `Key`, in its declaration order.
constexpr std::array<NamedKey, 32> key_names{{
    {"a", Key::a},
    {"b", Key::b},
    {"c", Key::c},
    {"d", Key::d},
    {"e", Key::e},
    {"f", Key::f},
    {"q", Key::q},
    {"r", Key::r},
    {"s", Key::s},
    {"w", Key::w},
    {"x", Key::x},
    {"z", Key::z},
    {"space", Key::space},
    {"escape", Key::escape},
    {"enter", Key::enter},
    {"tab", Key::tab},
    {"left_shift", Key::left_shift},
    {"right_shift", Key::right_shift},
    {"left_ctrl", Key::left_ctrl},
    {"right_ctrl", Key::right_ctrl},
    {"left_alt", Key::left_alt},
    {"right_alt", Key::right_alt},
    {"up", Key::up},
    {"down", Key::down},
    {"left", Key::left},
    {"right", Key::right},
    {"f1", Key::f1},
    {"f2", Key::f2},
    {"f3", Key::f3},
    {"f4", Key::f4},
    {"f5", Key::f5},
    {"f12", Key::f12},
}};

constexpr std::array<Key, key_names.size()> collectKeys() {
  std::array<Key, key_names.size()> keys{};
  for (std::size_t i = 0; i < keys.size(); ++i)
    keys[i] = key_names[i].key;
  return keys;
}
constexpr std::array<Key, key_names.size()> named_keys = collectKeys();

// The modifier keys the script has down, turned into the flags an event carries.
struct HeldModifiers {
  KeySet held;

  void apply(Key key, KeyAction action) noexcept {
    if (action == KeyAction::release) {
      held.erase(key);
    } else {
      held.insert(key);
    }
  }
  KeyMods mods() const noexcept {
    KeyMods m;
    m.shift = held.contains(Key::left_shift) || held.contains(Key::right_shift);
    m.control = held.contains(Key::left_ctrl) || held.contains(Key::right_ctrl);
    m.alt = held.contains(Key::left_alt) || held.contains(Key::right_alt);
    return m;
  }
};

struct ScriptReader {
  HeldModifiers modifiers;
  double cursor_x = 0.0;
  double cursor_y = 0.0;

  // Reads the two motion values of a `move` or `scroll` line.
  static std::optional<std::string> readMotion(const LineTokens& t, std::array<double, 2>& d) {
    if (t.count != 4) {
      return std::string(t.items[1]) + " takes DX DY, got " + std::to_string(t.count - 2) +
             " values";
    }
    constexpr std::array<const char*, 2> names{"DX", "DY"};
    for (std::size_t i = 0; i < 2; ++i) {
      const std::string_view token = t.items[2 + i];
      const std::optional<double> n = parseNumber(token);
      if (!n) return std::string(names[i]) + " is not a number: " + quotedText(token);
      if (!(std::fabs(*n) <= max_script_motion)) {
        return std::string(names[i]) + " " + quotedText(token) +
               " is not a finite value within ±1e6";
      }
      d[i] = *n;
    }
    return std::nullopt;
  }

  std::optional<std::string> readEvent(const LineTokens& t, InputEvent& e) {
    const std::string_view kind = t.items[1];
    if (kind == "key") {
      if (t.count != 4) {
        return "key takes NAME and press, release or repeat, got " + std::to_string(t.count - 2) +
               " values";
      }
      const std::optional<Key> key = keyFromName(t.items[2]);
      if (!key) {
        return "unknown key " + quotedText(t.items[2]) + " (key names: see orv-view --help)";
      }
      KeyAction action{};
      const std::string_view a = t.items[3];
      if (a == "press") {
        action = KeyAction::press;
      } else if (a == "release") {
        action = KeyAction::release;
      } else if (a == "repeat") {
        action = KeyAction::repeat;
      } else {
        return "unknown key action " + quotedText(a) + " (expected press, release or repeat)";
      }
      modifiers.apply(*key, action);
      e = InputEvent::keyEvent(action, {0, *key, modifiers.mods()});
      return std::nullopt;
    }
    if (kind == "button") {
      if (t.count != 4) {
        return "button takes left, right or middle and press or release, got " +
               std::to_string(t.count - 2) + " values";
      }
      MouseButton button{};
      const std::string_view b = t.items[2];
      if (b == "left") {
        button = MouseButton::left;
      } else if (b == "right") {
        button = MouseButton::right;
      } else if (b == "middle") {
        button = MouseButton::middle;
      } else {
        return "unknown button " + quotedText(b) + " (expected left, right or middle)";
      }
      const MouseButtonData d{cursor_x, cursor_y, button, modifiers.mods()};
      const std::string_view a = t.items[3];
      if (a == "press") {
        e = InputEvent::mousePress(d);
      } else if (a == "release") {
        e = InputEvent::mouseRelease(d);
      } else {
        return "unknown button action " + quotedText(a) + " (expected press or release)";
      }
      return std::nullopt;
    }
    if (kind == "move" || kind == "scroll") {
      std::array<double, 2> d{};
      if (auto bad = readMotion(t, d)) return bad;
      if (kind == "move") {
        cursor_x += d[0];
        cursor_y += d[1];
        e = InputEvent::mouseMove({cursor_x, cursor_y, d[0], d[1]});
      } else {
        e = InputEvent::mouseScroll({d[0], d[1], cursor_x, cursor_y});
      }
      return std::nullopt;
    }
    return "unknown event " + quotedText(kind) + " (expected key, button, move or scroll)";
  }
};

}  // namespace

std::optional<Key> keyFromName(std::string_view name) noexcept {
  // The names are lower-case ASCII; a name matches in any case ("F1", "Left_Shift").
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  for (const NamedKey& k : key_names) {
    if (k.name.size() != name.size()) continue;
    std::size_t i = 0;
    while (i < name.size() && lower(name[i]) == k.name[i])
      ++i;
    if (i == name.size()) return k.key;
  }
  return std::nullopt;
}

std::string_view keyName(Key key) noexcept {
  for (const NamedKey& k : key_names) {
    if (k.key == key) return k.name;
  }
  return {};
}

std::span<const Key> namedKeys() noexcept { return named_keys; }

ScriptParse parseInputScript(std::string_view text) {
  ScriptParse result;
  ScriptReader reader_state;
  std::uint32_t last_frame = 0;
  result.error = readItemLines(text, [&](std::size_t, const LineTokens& t) -> Problem {
    const std::optional<std::uint64_t> frame = parseIndex(t.items[0], max_script_frame);
    if (!frame) {
      return "frame " + quotedText(t.items[0]) + " is not an integer in 0.." +
             std::to_string(max_script_frame);
    }
    const auto f = static_cast<std::uint32_t>(*frame);
    if (f < last_frame) {
      return "frame " + std::to_string(f) + " comes after frame " + std::to_string(last_frame) +
             " (frames must not decrease)";
    }
    if (t.count < 2) return "frame " + std::to_string(f) + " has no event";
    if (result.events.size() == max_script_events) {
      return "too many events (at most " + std::to_string(max_script_events) + ")";
    }
    ScriptedEvent e{f, {}};
    if (Problem bad = reader_state.readEvent(t, e.event)) return bad;
    result.events.push_back(e);
    last_frame = f;
    return std::nullopt;
  });
  return result;
}

}  // namespace orv::view
