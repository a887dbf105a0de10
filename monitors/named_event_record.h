// One named event as a producer fills it: every value, and any field name outside the module's
// own, back to back in one zero-terminated UTF-16 buffer, with a table of fields into it. A
// cleared record keeps its buffers, so a recycled one is filled without allocating.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantel {

class NamedEventRecord {
public:
    // A repeated name keeps its last value.
    void Set(std::u16string_view name, std::u16string_view value);
    void SetNumber(std::u16string_view name, uint64_t value);
    bool empty() const { return fields_.empty(); }
    void Clear();
    // Characters the buffer holds without growing, so that a pool can let go of big ones.
    size_t capacity() const { return text_.capacity(); }

    // The value of "EventName"; empty when there is none.
    std::u16string_view EventName() const;
    // Every field but "EventName", in ascending order of the names, as zero-terminated texts;
    // isTime marks "LogonTime" and "ContextTimeStamp". Reorders the field table.
    template <typename Visit>
    void EachFieldInNameOrder(Visit visit) {
        SortByName();
        for (const Field& field : fields_)
            if (field.interned != eventNameId_) visit(NameOf(field), text_.data() + field.valueAt, IsTime(field));
    }

private:
    struct Field {
        int32_t interned;  // place in the table of the module's names, or -1
        uint32_t nameAt;   // a name outside the table, in the buffer
        uint32_t nameLength;
        uint32_t valueAt;
    };
    static const int32_t eventNameId_;

    uint32_t Append(std::u16string_view text);
    const char16_t* NameOf(const Field& field) const;
    std::u16string_view NameView(const Field& field) const;
    static bool IsTime(const Field& field);
    void SortByName();

    std::u16string text_;
    std::vector<Field> fields_;
};

}  // namespace vantel
