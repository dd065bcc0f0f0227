#include "ui/system_font.h"

bool isFontFileStart(const std::array<char, 4>& magic) {
    static constexpr std::array<std::array<char, 4>, 4> known{
        {{'\0', '\1', '\0', '\0'}, {'t', 'r', 'u', 'e'}, {'O', 'T', 'T', 'O'}, {'t', 't', 'c', 'f'}}};
    for (const auto& k : known)
        if (magic == k) return true;
    return false;
}
