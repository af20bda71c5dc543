#pragma once
// One settings entry and the growable list the parser and the override layer keep them in.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace crash {

enum class SettingsKind : std::uint8_t
{
    Text = 0,
    Number = 1,
    Flag = 2
};

struct SettingsProperty
{
    std::string name; // compared case-sensitively
    SettingsKind kind = SettingsKind::Text;
    bool flagValue = false;
    std::int32_t numberValue = 0;
    QString textValue; // null = absent, reads as empty
};

// Keys may repeat; lookups return the first occurrence. Room starts at 147 entries and grows by 20.
class SettingsPropertyList
{
public:
    static constexpr std::size_t InitialCapacity = 147;
    static constexpr std::size_t Growth = 20;

    void append(SettingsProperty property);
    const SettingsProperty* find(std::string_view name) const;
    SettingsProperty* find(std::string_view name);

    std::size_t count() const { return m_items.size(); }
    std::size_t capacity() const { return m_items.capacity(); }
    const SettingsProperty& at(std::size_t index) const { return m_items[index]; }
    SettingsProperty& at(std::size_t index) { return m_items[index]; }
    bool isEmpty() const { return m_items.empty(); }

private:
    std::vector<SettingsProperty> m_items;
};

} // namespace crash
