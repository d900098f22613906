#include "runtime/string_table.h"

#include <vector>

#include "platform/platform.h"

namespace tessel {

std::u16string LoadResString(StringId id, int capacity) {
    std::vector<char16_t> buffer(static_cast<std::size_t>(capacity), u'\0');
    const int length = Os().LoadStringW(id, buffer.data(), capacity);
    return {buffer.data(), static_cast<std::size_t>(length > 0 ? length : 0)};
}

}  // namespace tessel
