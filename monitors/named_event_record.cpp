#include "monitors/named_event_record.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace vantel {

namespace {

// Every field name the module's producers write, in ascending order, so that a name's place
// here is its delivery rank; the two time names stand here so that their rule is a comparison
// of places. A name missing from the table still works, stored in the record and compared as text.
constexpr std::u16string_view kNames[] = {
    u"ContextTimeStamp", u"EventName", u"FileName", u"FilePath", u"LogonTime", u"NewUacValue", u"OldUacValue",
    u"PasswordLastSet", u"PrimaryGroupId", u"SourceFileName", u"account_name", u"action", u"action_count",
    u"active", u"application_path", u"attribute_ldap_displayname", u"attribute_syntax_oid", u"attribute_value",
    u"channel", u"client_computer_name", u"command_line", u"computer_name", u"context_time_stamp", u"digest",
    u"digest_algorithm", u"direction", u"domain_sid", u"dsname", u"event_id", u"file_name", u"file_path",
    u"firewall_profile", u"firewall_rule", u"firewall_rule_id", u"group_rid", u"image_file_name", u"ip",
    u"local_ports", u"logon_domain", u"logon_time", u"logon_type", u"modifying_application", u"modifying_user",
    u"new_object_dn", u"object_class", u"object_dn", u"object_guid", u"old_object_dn", u"parent_process_id",
    u"parent_start_time", u"port", u"process_name", u"process_start_time", u"requested_policy", u"result",
    u"rule_name", u"service_display_name", u"service_name", u"service_type", u"setting_value_string",
    u"share_name", u"share_path", u"share_security", u"start_type", u"status", u"target_process_id",
    u"task_author", u"task_exec_arguments", u"task_exec_command", u"task_name", u"task_xml", u"user_is_admin",
    u"user_name", u"user_rid", u"user_sid", u"user_sid_readable", u"validated_policy"};
static_assert(std::is_sorted(std::begin(kNames), std::end(kNames)), "a name's place is its delivery rank");

constexpr uint32_t Hash(std::u16string_view name) {
    uint32_t hash = 2166136261u;
    for (char16_t c : name) hash = (hash ^ c) * 16777619u;
    return hash;
}

// Open addressing over the table: a slot holds a name's place plus one, 0 when free.
constexpr size_t kSlots = 256;
static_assert(std::size(kNames) < kSlots / 2, "room enough for short probes");
constexpr std::array<uint8_t, kSlots> kSlotsByHash = [] {
    std::array<uint8_t, kSlots> slots{};
    for (size_t place = 0; place < std::size(kNames); ++place) {
        size_t slot = Hash(kNames[place]) % kSlots;
        while (slots[slot] != 0) slot = (slot + 1) % kSlots;
        slots[slot] = static_cast<uint8_t>(place + 1);
    }
    return slots;
}();

constexpr int32_t PlaceOf(std::u16string_view name) {
    for (size_t slot = Hash(name) % kSlots; kSlotsByHash[slot] != 0; slot = (slot + 1) % kSlots)
        if (kNames[kSlotsByHash[slot] - 1] == name) return kSlotsByHash[slot] - 1;
    return -1;
}

constexpr int32_t kEventName = PlaceOf(u"EventName");
constexpr int32_t kLogonTime = PlaceOf(u"LogonTime");
constexpr int32_t kContextTimeStamp = PlaceOf(u"ContextTimeStamp");
static_assert(kEventName >= 0 && kLogonTime >= 0 && kContextTimeStamp >= 0);

}  // namespace

const int32_t NamedEventRecord::eventNameId_ = kEventName;

uint32_t NamedEventRecord::Append(std::u16string_view text) {
    auto at = static_cast<uint32_t>(text_.size());
    text_.append(text);
    text_.push_back(u'\0');
    return at;
}

void NamedEventRecord::Set(std::u16string_view name, std::u16string_view value) {
    int32_t interned = PlaceOf(name);
    for (Field& field : fields_) {
        if (field.interned == interned && (interned >= 0 || NameView(field) == name)) {
            field.valueAt = Append(value);  // the old value stays behind unused until the record is cleared
            return;
        }
    }
    Field field{interned, 0, 0, 0};
    if (interned < 0) {
        field.nameAt = Append(name);
        field.nameLength = static_cast<uint32_t>(name.size());
    }
    field.valueAt = Append(value);
    fields_.push_back(field);
}

void NamedEventRecord::SetNumber(std::u16string_view name, uint64_t value) {
    char16_t digits[20];  // the most a 64-bit number takes in decimal
    char16_t* first = std::end(digits);
    do {
        *--first = static_cast<char16_t>(u'0' + value % 10);
        value /= 10;
    } while (value != 0);
    Set(name, std::u16string_view(first, static_cast<size_t>(std::end(digits) - first)));
}

void NamedEventRecord::Clear() {
    text_.clear();
    fields_.clear();
}

std::u16string_view NamedEventRecord::EventName() const {
    for (const Field& field : fields_)
        if (field.interned == kEventName) return text_.data() + field.valueAt;
    return {};
}

const char16_t* NamedEventRecord::NameOf(const Field& field) const {
    return field.interned >= 0 ? kNames[field.interned].data() : text_.data() + field.nameAt;
}

std::u16string_view NamedEventRecord::NameView(const Field& field) const {
    return field.interned >= 0 ? kNames[field.interned] : std::u16string_view(text_.data() + field.nameAt, field.nameLength);
}

bool NamedEventRecord::IsTime(const Field& field) {
    return field.interned == kLogonTime || field.interned == kContextTimeStamp;
}

void NamedEventRecord::SortByName() {
    // A handful of fields: insertion sort, by place when both names are the module's own.
    for (size_t i = 1; i < fields_.size(); ++i) {
        Field field = fields_[i];
        size_t j = i;
        auto before = [&](const Field& other) {
            if (field.interned >= 0 && other.interned >= 0) return field.interned < other.interned;
            return NameView(field) < NameView(other);
        };
        for (; j > 0 && before(fields_[j - 1]); --j) fields_[j] = fields_[j - 1];
        fields_[j] = field;
    }
}

}  // namespace vantel
